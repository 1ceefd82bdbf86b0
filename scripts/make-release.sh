#!/bin/sh
# Makes the release archives in dist/:
#   vantrop-windows-x86_64.zip    the Windows programs (build/windows), the web page
#                                 they publish with (web\), README.txt
#                                 and the licences of the libraries linked into them
#   vantrop-linux-x86_64.tar.gz   what `cmake --install` puts in place (build/720p):
#                                 bin/, share/man/man1/, share/vantrop/, with README.md
#   vantrop-web.zip               the web site (build/web/site), for any static host
#   vantrop_VERSION_amd64.deb     the Debian package (cpack in build/720p)
# Builds what is missing first; the Windows build needs
# scripts/build-windows-libraries.sh to have run.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
dist="$root/dist"
windows="$root/build/windows"
. "$root/scripts/paths.sh"
linux="$root/$release_build"
web="$root/build/web"
prefix=$windows_prefix

[ -f "$web/CMakeCache.txt" ] || cmake --preset web >/dev/null
cmake --build --preset web -j"$(nproc)" >/dev/null
# Every archive of the programs carries the web page `vantrop-render site` publishes with.
cmake --preset windows -DVANTROP_WEB_BUILD="$web" >/dev/null
cmake --build "$windows" -j"$(nproc)" >/dev/null
[ -f "$linux/CMakeCache.txt" ] || cmake --preset default -DVANTROP_BUILD_TESTS=OFF >/dev/null
cmake "$linux" -DVANTROP_WEB_BUILD="$web" >/dev/null
cmake --build "$linux" -j"$(nproc)" >/dev/null

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$dist"

folder="$stage/vantrop-windows-x86_64"
cmake --install "$windows" --prefix "$folder" --strip >/dev/null
# Notepad and every Windows editor read CRLF line ends.
sed 's/$/\r/' README.md >"$folder/README.txt"
mkdir "$folder/licences"
for library in "$prefix"/licences/*.txt; do
    sed 's/$/\r/' "$library" >"$folder/licences/$(basename "$library")"
done
# The C and C++ runtimes and winpthreads that MinGW-w64 links in, and zlib.
for package in mingw-w64-common gcc-mingw-w64-base libz-mingw-w64; do
    sed 's/$/\r/' "/usr/share/doc/$package/copyright" >"$folder/licences/$package.txt"
done
if [ ! -f "$folder/web/index.html" ]; then
    echo "make-release: the Windows programs were installed without their web page (web/index.html); build the web site (cmake --preset web) and run this again" >&2
    exit 1
fi
rm -f "$dist/vantrop-windows-x86_64.zip"
(cd "$stage" && zip -qr9 "$dist/vantrop-windows-x86_64.zip" vantrop-windows-x86_64)

folder="$stage/vantrop-linux-x86_64"
cmake --install "$linux" --prefix "$folder" --strip >/dev/null
cp README.md "$folder/"
tar -czf "$dist/vantrop-linux-x86_64.tar.gz" -C "$stage" vantrop-linux-x86_64

rm -f "$linux"/vantrop_*.deb "$dist"/vantrop_*.deb
(cd "$linux" && cpack -G DEB >/dev/null)
cp "$linux"/vantrop_*_amd64.deb "$dist/"

rm -f "$dist/vantrop-web.zip"
(cd "$web/site" && zip -qr9 "$dist/vantrop-web.zip" index.html page.js player.js style.css vantrop.js vantrop.wasm)

for archive in "$dist/vantrop-windows-x86_64.zip" "$dist/vantrop-linux-x86_64.tar.gz" "$dist/vantrop-web.zip" \
    "$dist"/vantrop_*_amd64.deb; do
    echo "make-release: $archive ($(du -k "$archive" | cut -f1) KiB)"
done
