#!/bin/sh
# Installs what vantrop needs to build, run and test on Debian 12, what its
# Windows build needs (MinGW-w64, Wine to test it, and deb-src entries for the
# source packages of the libraries it cross-builds), and what its web build
# needs (Emscripten, and headless Chromium with the npm package that drives
# it in the tests).
# Runs apt-get through sudo unless it is already running as root.
set -e
if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$as_root apt-get update
$as_root apt-get install -y --no-install-recommends \
    build-essential cmake pkg-config help2man x11-xserver-utils \
    libsdl2-dev libx11-dev libxrandr-dev libasound2-dev libmpg123-dev libmp3lame-dev \
    libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libpng-dev glslang-tools \
    libgtest-dev libbenchmark-dev clang clang-format libclang-rt-14-dev \
    xvfb xauth xfonts-base xdotool x11-utils imagemagick ffmpeg lame pulseaudio pulseaudio-utils stress-ng \
    g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 dpkg-dev curl bzip2 xz-utils zip \
    lintian desktop-file-utils appstream \
    emscripten chromium-headless-shell
# Debian's Node.js comes with Emscripten; npm only where no other Node.js
# (with its own npm) is installed.
command -v npm >/dev/null || $as_root apt-get install -y --no-install-recommends npm
"$(dirname "$0")/enable-debian-sources.sh"
# The web tests' browser driver, at the version package-lock.json names.
npm ci --prefix "$(dirname "$0")/../tests/web" --no-audit --no-fund
