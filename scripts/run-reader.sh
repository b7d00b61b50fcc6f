#!/usr/bin/env bash
# Installs what is needed, builds the reader and starts it in a ready working
# directory (run/ beside the sources, with plugins/ and vera.ttf), together with
# the demo comic served on loopback (demo/server.py, port 8765) so that the
# reader has something to show without the network: press F5 to fetch the demo
# comic, click it, read with Page Down, leave with Escape.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j"$(nproc)" --target tovik wendle
work="$root/run"
mkdir -p "$work/plugins"
[ -f "$work/vera.ttf" ] || cp /usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf "$work/vera.ttf"
# First start: the demo comic's plugin, and the built-in comics (which need the
# internet) in the "available" tab.
[ -f "$work/plugins/demo.re" ] || [ -f "$work/plugins/demo.re.zip" ] ||
    cp "$root/demo/plugins/demo.re" "$work/plugins/demo.re"
[ -f "$work/tovik.ini" ] || cp "$root/demo/tovik.ini" "$work/tovik.ini"

demo_pid=
if [ "${TOVIK_NO_DEMO:-}" = "" ] && command -v python3 >/dev/null; then
    python3 "$root/demo/server.py" --port 8765 &
    demo_pid=$!
    trap '[ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true' EXIT
fi
cd "$work"
"$root/build/tovik" "$@"
