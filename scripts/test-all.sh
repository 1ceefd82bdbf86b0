#!/bin/sh
# Everything CI checks, in order: the sources' format and sizes (no file
# outside tests/ over 350 lines, no function over 80), the Windows build
# (cross-built with its libraries), the web build, the release build and its
# tests (with the sync check against a real sound server, the Windows
# programs under Wine, and the web site in headless Chromium), the Debian
# package (installed, run and purged), the release archives, the sanitizer build
# (AddressSanitizer, UBSan, LeakSanitizer) and its tests with the whole
# 70-second show, the music tests under ThreadSanitizer, and a 30-second
# fuzzing run of the music decoder; after each test run, a check that the
# tests left none of the processes they started running.
set -e
cd "$(dirname "$0")/.."
jobs=$(nproc)
# Warnings are errors here, not in users' builds.
strict=-DVANTROP_WERROR=ON
# One command a line: `set -e` stops at the first that fails (inside an
# `a && b` list it would not, and a failed build would pass unnoticed).
scripts/check-format.sh
scripts/check-sizes.sh
# What runs before the tests, so that only what they leave behind counts.
before=$(mktemp)
trap 'rm -f "$before"' EXIT
scripts/check-leftovers.sh --record "$before"
scripts/build-windows-libraries.sh
cmake --preset windows $strict
cmake --build --preset windows -j"$jobs"
cmake --preset web $strict
cmake --build --preset web -j"$jobs"
cmake --preset default $strict -DVANTROP_WINDOWS_BUILD="$PWD/build/windows" -DVANTROP_WEB_BUILD="$PWD/build/web"
cmake --build --preset default -j"$jobs"
ctest --preset default -j2
scripts/check-leftovers.sh "$before"
scripts/check-package.sh
scripts/make-release.sh
cmake --preset debug $strict
cmake --build --preset debug -j"$jobs"
ctest --preset debug -j2
scripts/check-leftovers.sh "$before"
cmake --preset tsan $strict
cmake --build --preset tsan -j"$jobs"
ctest --preset tsan
scripts/check-leftovers.sh "$before"
tests/fuzz/run.sh 30
