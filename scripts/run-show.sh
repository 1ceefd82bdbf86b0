#!/bin/sh
# Starts the show from the repository root, where it reads lomu_hmm.mp3.
# Without that file it first makes the placeholder track.
#   scripts/run-show.sh          the 1280x720 build (build/720p)
#   scripts/run-show.sh 1080p    the 1920x1080 build (build/1080p)
set -e
cd "$(dirname "$0")/.."
build="build/${1:-720p}"
if [ ! -x "$build/vantrop" ]; then
    echo "run-show: $build/vantrop is not built; run: cmake --preset ${1:-default} && cmake --build --preset ${1:-default}" >&2
    exit 1
fi
if [ ! -f lomu_hmm.mp3 ]; then
    echo "run-show: no lomu_hmm.mp3 here; making the placeholder track (put your own file here to hear it instead)" >&2
    "$build/tools/vantrop-make-track" lomu_hmm.mp3
fi
exec "$build/vantrop"
