#!/bin/sh
# Measures the show's start-up: from launch to the first frame on screen, on
# a private Xvfb, five times. A tiny preloaded library stamps the return of
# the first buffer swap.
#   scripts/startup-time.sh [720p|1080p]
set -e
cd "$(dirname "$0")/.."
build="$PWD/build/${1:-720p}"
work=$(mktemp -d)
case "${1:-720p}" in 1080p) screen=1920x1080 ;; *) screen=1280x720 ;; esac
scripts/xvfb.sh "$screen" > "$work/display" &
xvfb=$!
trap 'kill $xvfb; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=$(head -n 1 "$work/display")
cat > "$work/stamp.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <time.h>
void SDL_GL_SwapWindow(void *window)
{
    static void (*swap)(void *);
    static int done;
    if (!swap) swap = (void (*)(void *))dlsym(RTLD_NEXT, "SDL_GL_SwapWindow");
    swap(window);
    if (!done) {
        struct timespec t;
        clock_gettime(CLOCK_REALTIME, &t);
        fprintf(stderr, "first-frame %lld\n", (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000);
        done = 1;
    }
}
C
cc -shared -fPIC -o "$work/stamp.so" "$work/stamp.c" -ldl
"$build/tools/vantrop-make-track" --seconds 0.05 "$work/lomu_hmm.mp3"
sleep 1
cd "$work"
for run in 1 2 3 4 5; do
    start=$(date +%s%3N)
    DISPLAY=":$display" LD_PRELOAD="$work/stamp.so" "$build/vantrop" 2>&1 | awk -v s="$start" '/^first-frame/ { print $2 - s " ms from launch to the first frame" }'
done
