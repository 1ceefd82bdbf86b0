#!/bin/sh
# Checks `bench --compare` from outside the program. For each position it
# times whole processes with the shell's clock: `bench` drawing FRAMES frames
# at SIZE, less the same at 16x9 (start, compiling and exit), once for
# the shipped program set and once for the reference (the baseline with the
# march's exit, given as one program of its own), and prints their ratio
# beside the one `bench --compare` reports in a run of its own. Each time is
# the median of RUNS runs, the two programs taking turns. Below 640x360 the
# frames weigh too little against the spread of a process's start to tell.
#   scripts/outside-ratio.sh [SIZE] [FRAMES] [RUNS] [MS...]
#   (default 1280x720 3 3 30000 52000 62000)
# Needs the default build (build/720p).
set -e
cd "$(dirname "$0")/.."
. scripts/paths.sh
size=${1:-1280x720}
frames=${2:-3}
runs=${3:-3}
[ $# -gt 3 ] && shift 3 || set -- 30000 52000 62000
tool=$release_build/tools/vantrop-render
reference=$release_build/shaders/single_variants/march/fragment.frag
for file in "$tool" "$reference"; do
    if [ ! -e "$file" ]; then
        echo "outside-ratio: $file is missing; build first (cmake --preset default && cmake --build --preset default)" >&2
        exit 1
    fi
done

# Milliseconds one whole `bench` process takes: PROGRAM (shipped or reference) SIZE MS.
process_ms() {
    start=$(date +%s%N)
    if [ "$1" = reference ]; then
        "$tool" bench --size "$2" --frames "$frames" --ms "$3" --shader "$reference" >/dev/null
    else
        "$tool" bench --size "$2" --frames "$frames" --ms "$3" >/dev/null
    fi
    echo $((($(date +%s%N) - start) / 1000000))
}

median() {
    tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

"$tool" bench --size 16x9 --frames 1 --ms 0 | sed -n 1,2p
echo "size $size, $frames frames per process, median of $runs runs"
printf '%8s %14s %14s %13s %13s\n' ms "shipped ms/fr" "refer. ms/fr" "outside ratio" "bench ratio"
for ms in "$@"; do
    shipped_big='' shipped_small='' reference_big='' reference_small=''
    i=0
    while [ $i -lt "$runs" ]; do
        shipped_big="$shipped_big $(process_ms shipped "$size" "$ms")"
        reference_big="$reference_big $(process_ms reference "$size" "$ms")"
        shipped_small="$shipped_small $(process_ms shipped 16x9 "$ms")"
        reference_small="$reference_small $(process_ms reference 16x9 "$ms")"
        i=$((i + 1))
    done
    # Two warm-up frames are drawn besides the timed ones.
    drawn=$((frames + 2))
    shipped=$(echo "$(echo "$shipped_big" | median) $(echo "$shipped_small" | median) $drawn" |
        awk '{ printf "%.1f", ($1 - $2) / $3 }')
    ref=$(echo "$(echo "$reference_big" | median) $(echo "$reference_small" | median) $drawn" |
        awk '{ printf "%.1f", ($1 - $2) / $3 }')
    bench=$("$tool" bench --size "$size" --frames "$frames" --ms "$ms" --compare | awk -v ms="$ms" '$1 == ms { print $7 }')
    printf '%8s %14s %14s %13s %13s\n' "$ms" "$shipped" "$ref" \
        "$(echo "$shipped $ref" | awk '{ printf "%.3f", $1 / $2 }')" "$bench"
done
