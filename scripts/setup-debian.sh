#!/bin/sh
# Installs what vantrop needs on Debian 12.
#   scripts/setup-debian.sh          everything: to build, run and test it, its
#                                    Windows build (MinGW-w64, Wine to test it,
#                                    deb-src entries for the libraries it
#                                    cross-builds) and its web build (Emscripten,
#                                    headless Chromium and the npm package that
#                                    drives it in the tests)
#   scripts/setup-debian.sh --watch  only what building and running the show
#                                    and its tools needs (no tests)
# Runs apt-get through sudo unless it is already running as root.
set -e
case "${1:-}" in
    "") watch_only= ;;
    --watch) watch_only=yes ;;
    *) echo "setup-debian: unknown option '$1' (give --watch, or nothing for everything)" >&2; exit 2 ;;
esac
if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Building and running the show, the studio and the tools.
watch_packages="build-essential cmake pkg-config help2man \
    libsdl2-dev libx11-dev libxrandr-dev libasound2-dev libmpg123-dev libsndfile1-dev libmp3lame-dev \
    libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libpng-dev glslang-tools"
# The tests, the Windows and web builds, the package's checks, and the
# render farm's engine with the ssh it runs parts over (the test starts its
# own sshd).
test_packages="x11-xserver-utils libgtest-dev libbenchmark-dev clang clang-format libclang-rt-14-dev \
    xvfb xauth xfonts-base xdotool x11-utils imagemagick ffmpeg lame flac vorbis-tools opus-tools weston pulseaudio pulseaudio-utils stress-ng \
    g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 dpkg-dev curl bzip2 xz-utils zip \
    lintian desktop-file-utils appstream \
    emscripten chromium-headless-shell \
    parallel openssh-server openssh-client rsync"
$as_root apt-get update
if [ -n "$watch_only" ]; then
    # shellcheck disable=SC2086 # the lists are words
    $as_root apt-get install -y --no-install-recommends $watch_packages
    exit 0
fi
# shellcheck disable=SC2086
$as_root apt-get install -y --no-install-recommends $watch_packages $test_packages
# Debian's Node.js comes with Emscripten; npm only where no other Node.js
# (with its own npm) is installed.
command -v npm >/dev/null || $as_root apt-get install -y --no-install-recommends npm
"$(dirname "$0")/enable-debian-sources.sh"
# The web tests' browser driver, at the version package-lock.json names.
npm ci --prefix "$(dirname "$0")/../tests/web" --no-audit --no-fund
