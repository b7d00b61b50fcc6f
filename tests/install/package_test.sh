#!/bin/sh
# Builds the Debian package, inspects it, unpacks it into a temporary root and
# runs the reader from there.
# Usage: package_test.sh <build dir> <version>
set -u
build=$1
version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") \
    >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$work/out/tovik_${version}_amd64.deb
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: no $deb"; exit 1; }

info=$(dpkg-deb -I "$deb")
echo "$info"
depends=$(printf '%s\n' "$info" | sed -n 's/^ Depends: //p')
for need in ttf-bitstream-vera ca-certificates libc6 libsdl1.2debian libsdl-ttf2.0-0 libgd3 \
    libzip4 libssl3 libstdc++6; do
    printf '%s' "$depends" | grep -q "$need" || fail "Depends lacks $need: $depends"
done
for field in 'Package: tovik' "Version: $version" 'Architecture: amd64' 'Maintainer: .*@' \
    'Section: graphics' 'Homepage: ' 'Description: '; do
    printf '%s\n' "$info" | grep -q "^ $field" || fail "control field $field"
done

contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/tovik ./usr/bin/wendle ./usr/share/applications/tovik.desktop \
    ./usr/share/icons/hicolor/48x48/apps/tovik.png ./usr/share/man/man1/tovik.1.gz \
    ./usr/share/doc/tovik/copyright ./usr/share/doc/tovik/contrib/tovik-update.timer; do
    printf '%s\n' "$contents" | grep -q " $file\$" || fail "$file is not in the package"
done
printf '%s\n' "$contents" | grep -v ' root/root ' | grep -q . && fail "files not owned by root"

dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
mkdir "$work/library"
list=$(cd "$work/library" && "$work/root/usr/bin/tovik" -h 2>&1)
status=$?
[ $status -eq 0 ] || fail "tovik -h from the package: status $status"
printf '%s\n' "$list" | grep -qx applegeeks || fail "tovik -h lists: $list"
got=$("$work/root/usr/bin/wendle" -version)
[ "$got" = "wendle $version" ] || fail "wendle -version says '$got'"
exit $failed
