#!/bin/sh
# Cross-builds the libraries the Windows programs link statically (SDL2,
# mpg123, libpng, LAME) from Debian's source packages, at the versions this
# Debian release ships, into $VANTROP_WINDOWS_PREFIX (default
# ~/.cache/vantrop-windows), outside the source tree. A prefix already built
# from the same source versions is kept; the first build takes about two
# minutes on two cores. Needs scripts/setup-debian.sh (MinGW-w64 and the
# deb-src entries) first.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/paths.sh"
prefix=$windows_prefix
host=x86_64-w64-mingw32
packages="libsdl2 mpg123 libpng1.6 lame"
jobs=$(nproc)

versions=""
for package in $packages; do
    version=$(apt-cache showsrc --only-source "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -1)
    if [ -z "$version" ]; then
        echo "build-windows-libraries: Debian's source package $package is not known to apt; run scripts/setup-debian.sh first" >&2
        exit 1
    fi
    versions="$versions$package $version
"
done
if [ -f "$prefix/versions" ] && [ "$(cat "$prefix/versions")" = "$(printf '%s' "$versions")" ]; then
    echo "build-windows-libraries: $prefix is up to date"
    exit 0
fi

rm -rf "$prefix"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Each file of the source packages is fetched from where apt says and checked
# against the SHA-256 of apt's signed index; upstream's detached signatures
# (.asc) are left out, as some mirrors lack them.
echo "build-windows-libraries: fetching $packages"
for package in $packages; do
    apt-get source --print-uris "$package" | grep "^'" | while read -r uri name size sum; do
        case $name in *.asc) continue ;; esac
        uri=$(echo "$uri" | tr -d "'")
        if ! curl -sSfL -o "$name" "$uri" || ! echo "${sum#SHA256:}  $name" | sha256sum -c --quiet; then
            echo "build-windows-libraries: could not fetch $uri intact; check the network and apt's sources" >&2
            exit 1
        fi
    done
    dpkg-source --no-check -x "$package"_*.dsc >/dev/null
done
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
export CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib"
# Each step's chatter goes to a log, shown only when the step fails.
log="$work/build.log"
quietly() {
    if ! "$@" >>"$log" 2>&1; then
        tail -40 "$log" >&2
        echo "build-windows-libraries: '$*' failed in $(pwd) (its output is above)" >&2
        exit 1
    fi
}
configure() { quietly ./configure --host=$host --prefix="$prefix" --enable-static --disable-shared "$@"; }

echo "build-windows-libraries: SDL2"
quietly cmake -S libsdl2-*/ -B sdl2-build -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF
quietly cmake --build sdl2-build -j"$jobs"
quietly cmake --install sdl2-build

echo "build-windows-libraries: mpg123"
(cd mpg123-*/ && configure --with-audio=win32 --enable-modules=no && quietly make -j"$jobs" && quietly make install)

echo "build-windows-libraries: libpng"
(cd libpng1.6-*/ && configure && quietly make -j"$jobs" && quietly make install)

echo "build-windows-libraries: LAME"
(cd lame-*/ && configure --disable-frontend --disable-decoder && quietly make -j"$jobs" && quietly make install)

mkdir -p "$prefix/licences"
for package in $packages; do
    cp "$package"-*/debian/copyright "$prefix/licences/$package.txt"
done
printf '%s' "$versions" >"$prefix/versions"
echo "build-windows-libraries: done, in $prefix"
