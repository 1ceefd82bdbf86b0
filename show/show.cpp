#include "show/show.h"

#include "music/music.h"
#include "render/from_readable.h"
#include "render/renderer.h"
#include "show/display.h"
#include "show/session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

static constexpr int EXIT_START_FAILED = 1;
// Names a file that gets one line per frame: the steady clock in
// microseconds when the position was read, and the position in ms. The sync
// check lines these up with what a sound server played.
static constexpr const char* CLOCK_LOG_VARIABLE = "VANTROP_CLOCK_LOG";

static FILE* openClockLog()
{
    const char* path = std::getenv(CLOCK_LOG_VARIABLE);
    if (!path || !*path) return nullptr;
    FILE* log = std::fopen(path, "w");
    if (!log)
        std::fprintf(stderr, "vantrop: cannot write the clock log %s named by %s; going on without it\n", path,
                     CLOCK_LOG_VARIABLE);
    return log;
}

static int failStart(const std::string& error, MusicPlayer& player, ShowDisplay* display = nullptr,
                     Renderer* renderer = nullptr)
{
    destroyRenderer(renderer);
    stopMusic(player);
    closeShowDisplay(display);
    tellStartFailure(error);
    return EXIT_START_FAILED;
}

// Gives the renderer the show's programs, or those packed from `readable`
// (with the tracks read from their uniforms where a track file gave keys).
static bool useShowShader(Renderer& renderer, int width, int height, const ScheduleValues& schedule,
                          const ShaderSources* readable, const Tracks* tracks, std::string* error)
{
    if (!readable) return useShowPrograms(renderer, width, height, error);
    ReadablePrograms* programs = createReadablePrograms(false, tracks != nullptr);
    const bool built = useReadablePrograms(*programs, renderer, *readable, schedule, width, height, error);
    destroyReadablePrograms(programs);
    if (built && tracks) setRendererTracks(renderer, *tracks);
    return built;
}

int runShow(const char* musicFile, int width, int height, bool windowed, const ScheduleValues& schedule,
            const ShaderSources* readable, const Tracks* tracks)
{
    catchStopRequests();
    MusicPlayer player;
    std::string error;
    // The music is checked before the screen is touched, so that a missing
    // file costs no mode switch; it starts playing once the picture is ready.
    if (!openMusic(player, musicFile, &error)) return failStart(error, player);
    std::string notice;
    ShowDisplay* display = openShowDisplay(width, height, windowed, &error, &notice);
    if (!display) return failStart(error, player);
    if (!notice.empty()) std::fprintf(stderr, "vantrop: %s\n", notice.c_str());
    Renderer* renderer = createRenderer(showGlLookup, &error);
    if (!renderer || !useShowShader(*renderer, width, height, schedule, readable, tracks, &error))
        return failStart(error, player, display, renderer);
    if (!playMusic(player, &error)) return failStart(error, player, display, renderer);

    FILE* clockLog = openClockLog();
    // Unpaced on purpose: as fast as drawing and the buffer swap allow.
    bool stop;
    do {
        readMusicPosition(player);
        if (clockLog)
            std::fprintf(clockLog, "%lld %u\n",
                         (long long)std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count(),
                         player.positionMs);
        // Line by line, so that whoever watches the file sees each frame as it starts.
        if (clockLog) std::fflush(clockLog);
        if (const std::string notice = takeMusicNotice(player); !notice.empty())
            std::fprintf(stderr, "vantrop: %s\n", notice.c_str());
        beginShowFrame(*display);
        renderFrame(*renderer, schedule, player.positionMs);
        swapShowBuffers(*display);
        stop = stopRequested(*display);
    } while (!stop && player.positionMs < player.lengthMs);

    if (clockLog) std::fclose(clockLog);
    destroyRenderer(renderer);
    stopMusic(player);
    closeShowDisplay(display);
    return 0;
}
