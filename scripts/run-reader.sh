#!/usr/bin/env bash
# Installs what is needed, builds the reader and starts it in a ready working
# directory (run/ beside the sources, with plugins/ and vera.ttf).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j"$(nproc)" --target tovik wendle
work="$root/run"
mkdir -p "$work/plugins"
[ -f "$work/vera.ttf" ] || cp /usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf "$work/vera.ttf"
cd "$work"
exec "$root/build/tovik" "$@"
