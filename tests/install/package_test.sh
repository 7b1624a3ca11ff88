#!/usr/bin/env bash
# Makes the Debian package from the build with CPack (as scripts/package.sh does from the
# release build) and checks it: its name, that it declares a package for every library
# the programs load, the files it installs, that the programs unpacked from it run, and
# lintian's verdict where lintian is installed.
# Usage: package_test.sh BUILD_DIR VERSION
# Exit status 77 (skipped) when dpkg-deb or cpack is missing.
set -euo pipefail
build=${1:?usage: package_test.sh BUILD_DIR VERSION}
version=${2:?usage: package_test.sh BUILD_DIR VERSION}
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in dpkg-deb dpkg cpack; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$tmp/sonvera_${version}_$(dpkg --print-architecture).deb
[ -s "$deb" ] || fail "no $(basename "$deb"); cpack wrote: $(ls "$tmp")"

dpkg-deb --info "$deb"
[ "$(dpkg-deb --field "$deb" Package)" = sonvera ] || fail "package name"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "package version"
depends=$(dpkg-deb --field "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//' | sort -u)

# Every library the programs are linked with, the xcb platform plugin the window opens
# through, and the fonts the diagram is drawn in come from a declared package.
expect_package() {  # PACKAGE WHY
  grep -qx "$1" <<<"$depends" || fail "Depends lacks $1 ($2)"
}
# (awk reads to the end: a reader that quits early would fail the pipe under pipefail)
owner_of() { dpkg -S "$1" 2>/dev/null | awk -F: 'NR == 1 { print $1 }' || true; }
dpkg-deb -x "$deb" "$tmp/root"
for program in sonvera sonvera-cli; do
  for lib in $(objdump -p "$tmp/root/usr/bin/$program" | awk '$1 == "NEEDED" { print $2 }'); do
    path=$(ldconfig -p | awk -v l="$lib" '$1 == l && !found { print $NF; found = 1 }')
    [ -n "$path" ] || fail "$program needs $lib, which is not installed here"
    owner=$(owner_of "$path")
    [ -n "$owner" ] || owner=$(owner_of "$(readlink -f "$path")")
    [ -n "$owner" ] || fail "no package holds $path"
    expect_package "$owner" "$program needs $lib"
  done
done
plugin=$(owner_of '*/qt6/plugins/platforms/libqxcb.so')
expect_package "$plugin" "the xcb platform plugin"
expect_package fonts-dejavu-core "the diagram's fonts"

dpkg-deb --contents "$deb" | awk '{ print $NF }' >"$tmp/contents"
for f in usr/bin/sonvera usr/bin/sonvera-cli \
         usr/share/applications/sonvera.desktop \
         usr/share/icons/hicolor/scalable/apps/sonvera.svg \
         usr/share/icons/hicolor/256x256/apps/sonvera.png \
         usr/share/metainfo/org.sonvera.Sonvera.metainfo.xml \
         usr/share/man/man1/sonvera.1.gz usr/share/man/man1/sonvera-cli.1.gz \
         usr/share/doc/sonvera/README.md usr/share/doc/sonvera/copyright \
         usr/share/doc/sonvera/changelog.gz; do
  grep -qx "\./$f" "$tmp/contents" || fail "the package lacks /$f"
done

"$tmp/root/usr/bin/sonvera-cli" --version || fail "the unpacked sonvera-cli does not run"

if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" || fail "lintian"
  echo "lintian: no errors or warnings"
else
  echo "lintian is not installed: its check was skipped"
fi
echo "ok"
