// The show in a browser: what the page (site/page.js) calls in the
// WebAssembly module. The page owns the sound and the events; this side
// draws with the native show's renderer and keeps the native show's clock.
#include "music/heard.h"
#include "render/from_readable.h"
#include "render/renderer.h"
#include "shaders/track_uniforms.h"
#include "timeline/schedule.h"
#include "timeline/schedule_file.h"
#include "timeline/timeline.h"
#include "timeline/track_file.h"
#include "view/view.h"
#include "web/webgl.h"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

// The page's canvas.
static constexpr const char* CANVAS = "#show";
// How far the clock runs on from the audio context's last time stamp before
// it waits for the next (0.1 s; Chromium stamps every 10 to 40 ms): if the
// sound stalls, the picture stops with it.
static constexpr double STAMP_RUN_ON_S = 0.1;

// Frames looked at for a position that each program draws: one every 250 ms.
static constexpr uint32_t WARM_UP_STEP_MS = 250;

// The folder of a published show's readable shaders, beside the page.
static constexpr const char* SHADER_FOLDER = "shaders";

struct WebShow {
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = 0;
    Renderer* renderer = nullptr;
    // A published show's data, read by the page from beside it: its shaders
    // are packed here (readable set), else the built-in programs draw.
    ShaderSources sources;
    ReadablePrograms* readable = nullptr;
    ScheduleValues schedule;
    Tracks tracks;
    std::string lastError;
    int drawWidth = 0, drawHeight = 0;
    uint32_t shownMs = 0;
    AutoPreview preview;
};
// The page calls the exported functions below by name, with numbers only:
// the one show of the page lives here, where each call finds it.
static WebShow web;

// Opens WebGL 1 on the canvas: no alpha (the shader writes alpha 0 and the
// desktop ignores it), no antialiasing (every pixel is the shader's own);
// `keep` keeps each picture for a screenshot after it is shown.
static bool openContext(bool keep)
{
    if (web.context > 0) return true;
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.premultipliedAlpha = EM_FALSE;
    attributes.preserveDrawingBuffer = keep ? EM_TRUE : EM_FALSE;
    attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
    attributes.majorVersion = 1;
    attributes.minorVersion = 0;
    web.context = emscripten_webgl_create_context(CANVAS, &attributes);
    if (web.context <= 0) {
        web.lastError =
            "this browser cannot draw with WebGL here: turn on hardware acceleration (or WebGL) in its "
            "settings, or try another browser";
        return false;
    }
    emscripten_webgl_make_context_current(web.context);
    web.renderer = createRenderer(webGlLookup, &web.lastError);
    return web.renderer != nullptr;
}

// A browser may prepare a program for drawing only when it first draws
// (SwiftShader takes about a second): every program of the show draws one
// pixel now, before the sound starts, so that none stalls the show later.
static void warmUp()
{
    bool drawn[PROGRAM_VARIANTS] = {};
    const uint32_t last = positionAtBeat(web.schedule, lastPictureBeat(web.schedule));
    for (uint32_t ms = 0; ms <= last; ms += WARM_UP_STEP_MS) {
        const int variant = programVariantFor(computeFrameParams(web.schedule, ms));
        if (drawn[variant]) continue;
        drawn[variant] = true;
        glViewport(0, 0, 1, 1);
        renderFrame(*web.renderer, web.schedule, ms);
    }
    // Reading a pixel waits until every draw has been done.
    uint8_t pixel[4];
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
}

// The show's programs for width x height: the published show's, packed from
// its readable shaders (with the schedule and the tracks read from uniforms),
// or the built-in ones; all now, or only that of the frame at positionMs.
static bool buildShow(int width, int height, int positionMs, bool everyProgram)
{
    if (!web.readable)
        return everyProgram ? useShowPrograms(*web.renderer, width, height, &web.lastError)
                            : useShowProgramsForFrame(*web.renderer, width, height, BUILT_IN_SCHEDULE,
                                                      uint32_t(positionMs), &web.lastError);
    const int64_t frame = positionMs;
    if (!useReadablePrograms(*web.readable, *web.renderer, web.sources, web.schedule, width, height, &web.lastError,
                             everyProgram ? nullptr : &frame)) {
        web.lastError = "the published shaders do not build in this browser:\n" + web.lastError;
        return false;
    }
    setRendererTracks(*web.renderer, web.tracks);
    return true;
}

extern "C" {

// The readable shader files a published show holds beside the page, by
// index (the vertex shader, main(), then the others in the order they are
// packed); "" past the last.
EMSCRIPTEN_KEEPALIVE const char* vantropShaderFile(int index)
{
    static std::vector<std::string> names;
    if (names.empty()) {
        const ShaderFiles files = shaderFilesIn(SHADER_FOLDER);
        names = {files.vertex, files.main};
        names.insert(names.end(), files.functions.begin(), files.functions.end());
    }
    return index >= 0 && size_t(index) < names.size() ? names[size_t(index)].c_str() : "";
}

// Takes the text of the shader file with this index (vantropShaderFile).
EMSCRIPTEN_KEEPALIVE void vantropSetShaderText(int index, const char* text)
{
    ShaderSources& s = web.sources;
    s.files = shaderFilesIn(SHADER_FOLDER);
    s.functions.resize(s.files.functions.size());
    if (index == 0) s.vertex = text;
    if (index == 1) s.main = text;
    if (index >= 2 && size_t(index - 2) < s.functions.size()) s.functions[size_t(index - 2)] = text;
}

// The published show from the shader texts taken and the texts of its
// schedule and track files ("" for none): 0 when they are sound, and the
// frames are then drawn with them; otherwise vantropError() names the file
// and line at fault.
EMSCRIPTEN_KEEPALIVE int vantropUseShow(const char* schedule, const char* tracks)
{
    Tracks declared;
    if ((*schedule && !parseSchedule(schedule, "schedule.txt", web.schedule, &web.lastError)) ||
        !declaredTracks(web.sources, declared, &web.lastError) ||
        (*tracks && !parseTracks(tracks, "tracks.txt", declared, web.tracks, &web.lastError)))
        return 1;
    if (!*tracks) web.tracks = declared;
    if (!web.readable) web.readable = createReadablePrograms(true, true, true);
    return 0;
}

// Sets up drawing at width x height on the canvas: every program of the show
// built now (`everyProgram`, before playing) or only the one for positionMs
// (a still picture). 0 on success; otherwise vantropError() says why.
EMSCRIPTEN_KEEPALIVE int vantropSetUp(int width, int height, int positionMs, int everyProgram, int keep)
{
    if (!openContext(keep != 0) || !buildShow(width, height, positionMs, everyProgram != 0)) return 1;
    web.drawWidth = width;
    web.drawHeight = height;
    if (everyProgram) warmUp();
    return 0;
}

// Why the last set-up failed.
EMSCRIPTEN_KEEPALIVE const char* vantropError()
{
    return web.lastError.c_str();
}

// Draws the frame at this music position.
EMSCRIPTEN_KEEPALIVE void vantropDraw(int positionMs)
{
    glViewport(0, 0, web.drawWidth, web.drawHeight);
    renderFrame(*web.renderer, web.schedule, uint32_t(positionMs));
    // The page's console shows what the program's standard error says.
    if (const std::string failure = takeRendererFailure(*web.renderer); !failure.empty())
        std::fprintf(stderr, "vantrop: %s\n", failure.c_str());
}

// Starts the clock again from fromMs, for a new playing (or one after a
// seek), at full size.
EMSCRIPTEN_KEEPALIVE void vantropRestartClock(int fromMs)
{
    web.shownMs = uint32_t(std::max(fromMs, 0));
    web.preview = AutoPreview{};
}

// The name of the show's section `index` ("" past the last) and the
// millisecond it starts on, with the schedule in use: the seek bar's marks.
EMSCRIPTEN_KEEPALIVE const char* vantropSectionName(int index)
{
    return index >= 0 && index < SHOW_SECTION_COUNT ? SHOW_SECTIONS[index].name : "";
}

EMSCRIPTEN_KEEPALIVE int vantropSectionStartMs(int index)
{
    return int(positionAtBeat(web.schedule, sectionStartBeat(web.schedule, index)));
}

// Where a step of a beat (or a bar) ahead or back from positionMs lands: on
// the next (or previous) beat or bar line, as the studio steps.
EMSCRIPTEN_KEEPALIVE double vantropGridMs(int positionMs, int bar, int back)
{
    const float beats = bar ? float(BEATS_PER_BAR) : 1.0f;
    return double(gridLineMs(web.schedule, uint32_t(std::max(positionMs, 0)), beats, back != 0));
}

// Whether width x height is a size the show is drawn at (16:9, 16x9 to 7680x4320).
EMSCRIPTEN_KEEPALIVE int vantropIsShowSize(double width, double height)
{
    return isShowSize(width, height) ? 1 : 0;
}

// The width of the largest 16:9 box in a width x height window (its height is 9/16 of it).
EMSCRIPTEN_KEEPALIVE int vantropBoxWidth(int width, int height)
{
    return pictureBoxIn(width, height).width;
}

// The width drawn for a box this wide at a preview scale (16:9, its height 9/16 of it).
EMSCRIPTEN_KEEPALIVE int vantropDrawnWidth(int boxWidth, int scale)
{
    return drawnSize(boxWidth, scale).width;
}

// The auto preview's scale after a frame that took frameMs, the picture moving or not.
EMSCRIPTEN_KEEPALIVE int vantropPreviewScale(double frameMs, int moving)
{
    return autoPreviewScale(web.preview, frameMs, moving != 0);
}

// The millisecond to draw now: the audio context's output stamp (the context
// time being heard at a moment of performance.now()), the time now, when the
// track started in context time and from which of its milliseconds, its rate
// and its length in sample frames.
EMSCRIPTEN_KEEPALIVE double vantropShownMs(double stampContextS, double stampPerformanceMs, double nowPerformanceMs,
                                           double startContextS, double fromMs, double rate, double trackFrames)
{
    const AudioStamp stamp{uint64_t(std::llround(std::max(0.0, stampContextS) * rate)),
                           uint64_t(std::llround(STAMP_RUN_ON_S * rate)), std::llround(stampPerformanceMs * 1000.0)};
    const uint64_t heard = heardFrame(stamp, std::llround(nowPerformanceMs * 1000.0), 0, long(rate));
    const uint64_t startFrame = uint64_t(std::llround(std::max(0.0, startContextS) * rate));
    const uint64_t music =
        (heard > startFrame ? heard - startFrame : 0) + uint64_t(std::llround(std::max(0.0, fromMs) * rate / 1000.0));
    const bool playedOut = double(music) >= trackFrames;
    const uint32_t lengthMs = uint32_t(std::llround(trackFrames * 1000.0 / rate));
    web.shownMs = nextShownMs(web.shownMs, music * 1000 / uint64_t(rate), playedOut, lengthMs);
    return web.shownMs;
}
}
