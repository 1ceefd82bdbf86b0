#!/bin/sh
# Times each exact optimisation of the scene shader on its own against the
# straightforward baseline, on this machine's renderer, in one run each.
#   tools/bench-optimisations.sh [SIZE] [FRAMES]     (default 320x180, 5)
# Needs the default build (build/720p).
set -e
cd "$(dirname "$0")/.."
size=${1:-320x180}
frames=${2:-5}
build=build/720p
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for group in march hoist bound logomin fade; do
    mkdir -p "$work/$group"
    for f in shaders/*.glsl; do
        sed -e "/\/\/ @baseline:$group[[:space:]]*\$/d" -e "s|// @fast:$group[[:space:]]*\$||" "$f" > "$work/$group/$(basename "$f")"
    done
    g="$work/$group"
    "$build/shaders/glsl_pack" baseline "$g/out.cpp" "$g" 1280 720 "$g/vertex.glsl" "$g/main.glsl" \
        "$g/interface.glsl" "$g/scene.glsl" "$g/camera.glsl" "$g/shading.glsl"
    echo "== $group alone"
    "$build/tools/vantrop-render" bench --size "$size" --frames "$frames" --compare --shader "$g/fragment.frag" | tail -n +3
done
echo "== all of them: the shipped shader"
"$build/tools/vantrop-render" bench --size "$size" --frames "$frames" --compare | tail -n +3
