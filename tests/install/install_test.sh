#!/bin/sh
# Installs the build into a temporary prefix and checks what landed there:
# every file in place, the desktop entry valid, the manual pages rendering
# without warnings and naming every mode and setting.
# Usage: install_test.sh <build dir> <version>
set -u
build=$1
version=$2
for tool in desktop-file-validate man identify; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

cmake --install "$build" --prefix "$prefix" >"$prefix/install.log" 2>&1 ||
    { cat "$prefix/install.log"; exit 1; }

for file in bin/tovik bin/wendle share/applications/tovik.desktop \
    share/icons/hicolor/scalable/apps/tovik.svg \
    share/man/man1/tovik.1.gz share/man/man1/wendle.1.gz \
    share/doc/tovik/README.md share/doc/tovik/LICENSE share/doc/tovik/copyright \
    share/doc/tovik/changelog.gz \
    share/doc/tovik/contrib/tovik-update.service share/doc/tovik/contrib/tovik-update.timer; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for size in 16 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x$size/apps/tovik.png
    got=$(identify -format '%wx%h' "$png" 2>/dev/null)
    [ "$got" = "${size}x$size" ] || fail "$png is '$got', not ${size}x$size"
done

desktop-file-validate "$prefix/share/applications/tovik.desktop" || fail "desktop entry"
grep -qx 'Categories=Graphics;Viewer;' "$prefix/share/applications/tovik.desktop" ||
    fail "desktop entry categories"
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/tovik.desktop")
[ "$exec_line" = "tovik -desktop" ] || fail "desktop entry starts '$exec_line'"

for page in tovik wendle; do
    file=$prefix/share/man/man1/$page.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1 warns: $warnings"
done
text=$(MANWIDTH=200 man -l "$prefix/share/man/man1/tovik.1.gz" 2>/dev/null)
for word in -desktop -c -h -hh -dump= -export -import -read -update -version \
    storage.dat.zip tovik.ini tovik.log tovik.lock plugins/ vera.ttf \
    fullscreen_w fullscreen_h centered sortmode extra_ca_file TOVIK_EXTRA_CA lock_wait active \
    XDG_DATA_HOME 'EXIT STATUS' EXAMPLES 'Page Down' F5 Escape; do
    printf '%s' "$text" | grep -qF -- "$word" || fail "tovik.1 does not mention $word"
done
text=$(MANWIDTH=200 man -l "$prefix/share/man/man1/wendle.1.gz" 2>/dev/null)
for word in -desktop -version plugins/ 'EXIT STATUS' EXAMPLES; do
    printf '%s' "$text" | grep -qF -- "$word" || fail "wendle.1 does not mention $word"
done

got=$("$prefix/bin/tovik" -version)
[ "$got" = "tovik $version" ] || fail "tovik -version says '$got'"
got=$("$prefix/bin/wendle" -version)
[ "$got" = "wendle $version" ] || fail "wendle -version says '$got'"
exit $failed
