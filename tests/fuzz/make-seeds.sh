#!/bin/sh
# Remakes the fuzzing seeds in tests/fuzz/corpus: two short placeholder tracks,
# hand-broken files, and a 50 ms WAV, FLAC, Ogg Vorbis and Opus file. Needs
# the default build (build/720p), ffmpeg, flac, vorbis-tools and opus-tools.
set -e
cd "$(dirname "$0")"
make_track=../../build/720p/tools/vantrop-make-track
rm -rf corpus && mkdir corpus
"$make_track" --seconds 0.1 corpus/short.mp3
"$make_track" --seconds 0.3 track.tmp
head -c 3000 track.tmp > corpus/truncated.mp3
# The first frame header broken: sync bits cleared.
{ head -c 1 track.tmp; printf '\000'; tail -c +3 track.tmp | head -c 3000; } > corpus/wrong-header.mp3
# An ID3v2 tag and nothing after it.
printf 'ID3\003\000\000\000\000\000\012TIT2\000\000\000\002\000\000\000x' > corpus/id3-only.mp3
# An ID3v2 tag whose size field claims 256 MiB, then a real stream.
{ printf 'ID3\003\000\000\177\177\177\177'; head -c 2000 track.tmp; } > corpus/huge-id3.mp3
# Frame headers with no payload: MPEG-1 layer III headers back to back.
for i in 1 2 3 4 5 6 7 8; do printf '\377\373\220\000'; done > corpus/zero-length-frames.mp3
# The other formats' readers: a 50 ms tone in each.
ffmpeg -v error -f lavfi -i "aevalsrc=0.5*sin(2*PI*440*t):d=0.05" -ar 8000 -c:a pcm_s16le corpus/tone.wav
flac -s --no-padding --no-seektable -o corpus/tone.flac corpus/tone.wav
oggenc -Q -o corpus/tone.ogg corpus/tone.wav
opusenc --quiet corpus/tone.wav corpus/tone.opus
rm -f track.tmp
ls -l corpus
