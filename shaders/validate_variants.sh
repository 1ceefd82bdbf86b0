#!/bin/sh
# Packs the scene shader once for each optimisation alone and validates it.
#   GLSL_PACK=... GLSLANG_VALIDATOR=... validate_variants.sh OUT_DIR VERTEX MAIN FUNCTIONS...
set -e
out=$1
shift
for name in $("$GLSL_PACK" --list); do
    mkdir -p "$out/$name"
    "$GLSL_PACK" --enable "$name" "$out/$name/shader_text.cpp" "$out/$name" 1280 720 "$@"
    "$GLSLANG_VALIDATOR" -d "$out/$name/vertex.vert" "$out/$name/fragment.frag" > "$out/$name/validation.log" ||
        { echo "the shader with only '$name' switched on does not validate:"; cat "$out/$name/validation.log"; exit 1; }
done
