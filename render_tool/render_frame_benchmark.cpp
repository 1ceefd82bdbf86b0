// Micro-benchmark of renderFrame's own processor cost: the uniform upload and
// draw calls, with the shader's work kept to one pixel.
#include "render/headless.h"
#include "render/renderer.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static void renderFrameCalls(benchmark::State& state, Renderer* renderer)
{
    // Positions move on by a 60 Hz frame and stay inside the show's lit part.
    static constexpr uint32_t FIRST_MS = 5500, LAST_MS = 66000, FRAME_MS = 16;
    uint32_t positionMs = FIRST_MS;
    for (auto _ : state) {
        renderFrame(*renderer, BUILT_IN_SCHEDULE, positionMs);
        positionMs = positionMs + FRAME_MS > LAST_MS ? FIRST_MS : positionMs + FRAME_MS;
    }
    glFinish();
}
int main(int argc, char** argv)
{
    std::string error;
    HeadlessContext* context = openHeadlessContext(&error);
    Renderer* renderer = context && createOffscreenTarget(*context, 1, 1, &error)
        ? createRenderer(headlessLookup(*context), &error)
        : nullptr;
    if (!renderer || !useShowPrograms(*renderer, 1, 1, &error)) {
        std::fprintf(stderr, "render_frame_benchmark: %s\n", error.c_str());
        destroyRenderer(renderer);
        closeHeadlessContext(context);
        return 1;
    }
    std::printf("renderer: %s\n", rendererName().c_str());
    benchmark::RegisterBenchmark("renderFrameCalls", renderFrameCalls, renderer);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    destroyRenderer(renderer);
    closeHeadlessContext(context);
    return 0;
}
