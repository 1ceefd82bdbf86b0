#!/bin/sh
# Builds the music fuzzer (clang, libFuzzer, AddressSanitizer, UBSan) and runs
# it for SECONDS (default 30) from the committed seeds. Fails on any crash,
# leak, hang or sanitizer report.
#   tests/fuzz/run.sh [SECONDS]
set -e
cd "$(dirname "$0")/../.."
seconds=${1:-30}
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz -j"$(nproc)" --target music_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tests/fuzz/corpus/* "$work/"
SDL_AUDIODRIVER=dummy build/fuzz/tests/fuzz/music_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$work"
