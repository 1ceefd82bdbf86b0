#!/bin/sh
# Every process a test starts (X servers, sound servers, browsers, Wine,
# ffmpeg, the programs themselves) must stop, whether the test passed or
# failed. `check-leftovers.sh --record FILE` notes those running before the
# tests; `check-leftovers.sh FILE` then fails, naming them, if any others of
# their kind are still running (after a grace period for those that end
# late by design, such as wineserver's few seconds).
set -e
KINDS='^(Xvfb|Xorg|weston|Xwayland|pulseaudio|parec|chrom|headless_shell|node|vantrop|wine|ffmpeg|xdotool|sshd|slurm)'
GRACE_S=20

running() {
    ps -eo pid=,comm= | awk -v kinds="$KINDS" '$2 ~ kinds { print $1 " " $2 }' | sort
}

if [ "$1" = "--record" ]; then
    running > "$2"
    exit 0
fi
[ -f "$1" ] || { echo "usage: check-leftovers.sh [--record] FILE" >&2; exit 2; }
waited=0
while :; do
    left=$(running | comm -23 - "$1")
    [ -z "$left" ] && exit 0
    [ "$waited" -ge "$GRACE_S" ] && break
    sleep 1
    waited=$((waited + 1))
done
echo "check-leftovers: the tests left these processes running (a test must stop what it starts):" >&2
echo "$left" >&2
exit 1
