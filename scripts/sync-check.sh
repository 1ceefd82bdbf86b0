#!/bin/sh
# What a listener hears while the show plays: runs the show on its own Xvfb
# against its own PulseAudio server with a null sink, records the sink's
# monitor, and aligns the recording with the decoded track sample by sample
# (tests/sync/sync_check.cpp). Reports dropouts, the samples lost at the head
# and the picture's lead over the sound; exits 1 when any is off.
#   scripts/sync-check.sh [--seconds S] [--hogs N] [--build DIR]
#     --seconds S   length of the made track (default 20)
#     --hogs N      run N CPU hogs (stress-ng --cpu N) beside the show
#     --build DIR   the build to run (default build/720p)
set -u
cd "$(dirname "$0")/.."
seconds=20
hogs=0
. scripts/paths.sh
build=$release_build
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --hogs) hogs=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        *) echo "usage: scripts/sync-check.sh [--seconds S] [--hogs N] [--build DIR]" >&2; exit 2 ;;
    esac
done
build=$(cd "$build" && pwd) || exit 2
for tool in Xvfb pulseaudio parec; do
    command -v "$tool" > /dev/null || { echo "sync-check: $tool is missing; run scripts/setup-debian.sh" >&2; exit 1; }
done
if [ "$hogs" -gt 0 ] && ! command -v stress-ng > /dev/null; then
    echo "sync-check: stress-ng is missing; run scripts/setup-debian.sh" >&2; exit 1
fi
work=$(mktemp -d)
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null; done
    for pid in $pids; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

scripts/xvfb.sh 1280x720 > "$work/display" &
pids="$pids $!"
mkdir "$work/pulse"
XDG_RUNTIME_DIR="$work/pulse" HOME="$work/pulse" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
    --use-pid-file=no -L "module-null-sink sink_name=sync" \
    -L "module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" > "$work/pulse.log" 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do
    [ -s "$work/display" ] && [ -S "$work/pulse/native" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "sync-check: Xvfb did not start"; exit 1; }
[ -S "$work/pulse/native" ] || { echo "sync-check: pulseaudio did not start"; cat "$work/pulse.log"; exit 1; }
display=":$(head -n 1 "$work/display")"
export PULSE_SERVER="unix:$work/pulse/native"

"$build/tools/vantrop-make-track" --seconds "$seconds" "$work/lomu_hmm.mp3" || exit 1
parec -d sync.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=5 |
    "$build/tests/sync/sync_check" record "$work/rec.raw" "$work/rec.times" &
recorder=$!
pids="$pids $recorder"
if [ "$hogs" -gt 0 ]; then
    stress-ng --cpu "$hogs" --timeout "$((seconds + 60))" > /dev/null 2>&1 &
    pids="$pids $!"
fi
sleep 1
(cd "$work" && DISPLAY="$display" SDL_AUDIODRIVER=pulseaudio VANTROP_CLOCK_LOG="$work/clock.log" \
    timeout "$((seconds + 60))" "$build/vantrop" > "$work/show.log" 2>&1)
status=$?
sleep 0.5
pkill -f "parec -d sync.monitor" 2> /dev/null
wait "$recorder" 2> /dev/null
echo "sync-check: ${seconds} s track, $hogs CPU hogs; the show exited with status $status"
[ "$status" -eq 0 ] || { cat "$work/show.log"; exit 1; }
if grep -q "runs silently\|device was lost" "$work/show.log"; then cat "$work/show.log"; exit 1; fi
"$build/tests/sync/sync_check" analyse "$work/lomu_hmm.mp3" "$work/rec.raw" "$work/rec.times" "$work/clock.log"
