#!/bin/sh
# Times each exact optimisation of the scene shader on its own against the
# straightforward baseline, on this machine's renderer, in one run each. The
# variants are the ones the build packs and validates with glsl_pack, the one
# reader of the sources' optimisation markers.
#   scripts/bench-optimisations.sh [SIZE] [FRAMES]     (default 320x180, 5)
# Needs the default build (build/720p).
set -e
cd "$(dirname "$0")/.."
size=${1:-320x180}
frames=${2:-5}
. scripts/paths.sh
build=$release_build
for group in $("$build/shaders/glsl_pack" --list); do
    echo "== $group alone"
    "$build/tools/vantrop-render" bench --size "$size" --frames "$frames" --compare \
        --shader "$build/shaders/single_variants/$group/fragment.frag" | tail -n +3
done
echo "== all of them: the shipped shader"
"$build/tools/vantrop-render" bench --size "$size" --frames "$frames" --compare | tail -n +3
