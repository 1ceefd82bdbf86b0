#!/bin/sh
# Everything CI checks, in order: the sources' format, the release build and
# its tests (with the
# sync check against a real sound server), the sanitizer build
# (AddressSanitizer, UBSan, LeakSanitizer) and its tests with the whole
# 70-second show, the music tests under ThreadSanitizer, and a 30-second
# fuzzing run of the music decoder.
set -e
cd "$(dirname "$0")/.."
jobs=$(nproc)
# Warnings are errors here, not in users' builds.
strict=-DVANTROP_WERROR=ON
scripts/check-format.sh
cmake --preset default $strict && cmake --build --preset default -j"$jobs" && ctest --preset default -j2
cmake --preset debug $strict && cmake --build --preset debug -j"$jobs" && ctest --preset debug -j2
cmake --preset tsan $strict && cmake --build --preset tsan -j"$jobs" && ctest --preset tsan
tests/fuzz/run.sh 30
