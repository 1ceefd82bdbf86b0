#!/bin/sh
# On a machine with a GPU: builds, times the shader against the baselines at
# 1920x1080 through EGL's device platform (the GPU), and compares frames the
# GPU draws with the ones Mesa's llvmpipe draws at a few positions.
#   scripts/gpu-check.sh [OUT_DIR]     (default: a temporary folder)
set -e
cd "$(dirname "$0")/.."
out=${1:-$(mktemp -d)}
mkdir -p "$out"
cmake --preset default -DVANTROP_BUILD_TESTS=OFF > "$out/configure.log"
cmake --build --preset default -j"$(nproc)" > "$out/build.log"
. scripts/paths.sh
render=$release_build/tools/vantrop-render
# Only Mesa's EGL vendor: its software device is skipped, so llvmpipe draws.
mesa_only=/usr/share/glvnd/egl_vendor.d/50_mesa.json
echo "== bench --compare at 1920x1080 on the GPU"
"$render" bench --size 1920x1080 --frames 20 --compare
echo "== the same frames from the GPU and from llvmpipe"
for ms in 6000 30000 50000 66000; do
    "$render" frame --ms "$ms" --size 1920x1080 --force --out "$out/gpu-$ms.png"
    __EGL_VENDOR_LIBRARY_FILENAMES=$mesa_only "$render" frame --ms "$ms" --size 1920x1080 --force --out "$out/llvmpipe-$ms.png"
    if command -v compare > /dev/null; then
        differing=$(compare -metric AE "$out/gpu-$ms.png" "$out/llvmpipe-$ms.png" null: 2>&1 || true)
        mean=$(compare -metric MAE "$out/gpu-$ms.png" "$out/llvmpipe-$ms.png" null: 2>&1 || true)
        echo "$ms ms: $differing pixels differ; mean absolute error $mean"
    else
        cmp -s "$out/gpu-$ms.png" "$out/llvmpipe-$ms.png" && echo "$ms ms: identical files" || echo "$ms ms: the files differ"
    fi
done
echo "pictures in $out"
