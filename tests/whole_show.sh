#!/bin/sh
# The whole show, start to end, under a sanitizer build: a 70-second
# placeholder track on its own Xvfb. Passes when the show ends by itself with
# status 0 and the sanitizers report nothing.
#   tests/whole_show.sh SHOW MAKE_TRACK [PRELOAD]
# PRELOAD, when given, is put in the show's LD_PRELOAD (see tests/CMakeLists.txt).
set -u
show=$1
make_track=$2
preload=${3:-}
work=$(mktemp -d)
"$(dirname "$0")/../scripts/xvfb.sh" 1280x720 > "$work/display" &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "whole_show: Xvfb (Debian package xvfb) did not start"; exit 1; }
display=$(head -n 1 "$work/display")
"$make_track" "$work/lomu_hmm.mp3" || exit 1
start=$(date +%s)
if [ -n "$preload" ]; then
    (cd "$work" && DISPLAY=":$display" LD_PRELOAD="$preload" timeout 300 "$show" > "$work/show.log" 2>&1)
else
    (cd "$work" && DISPLAY=":$display" timeout 300 "$show" > "$work/show.log" 2>&1)
fi
status=$?
echo "whole_show: the show ran $(( $(date +%s) - start )) s and exited with status $status"
if grep -E "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error" "$work/show.log"; then
    cat "$work/show.log"
    exit 1
fi
[ "$status" -eq 0 ] || { cat "$work/show.log"; exit 1; }
