#!/bin/sh
# Packs the scene shader once for each optimisation alone, at the show's size,
# and validates it (the build runs it; scripts/bench-optimisations.sh times
# the variants).
#   GLSL_PACK=... GLSLANG_VALIDATOR=... validate-variants.sh OUT_DIR WIDTH HEIGHT VERTEX MAIN FUNCTIONS...
set -e
out=$1
width=$2
height=$3
shift 3
for name in $("$GLSL_PACK" --list); do
    mkdir -p "$out/$name"
    "$GLSL_PACK" --enable "$name" "$out/$name/shader_text.cpp" "$out/$name" "$width" "$height" "$@"
    "$GLSLANG_VALIDATOR" -d "$out/$name/vertex.vert" "$out/$name/fragment.frag" > "$out/$name/validation.log" ||
        { echo "the shader with only '$name' switched on does not validate:"; cat "$out/$name/validation.log"; exit 1; }
done
