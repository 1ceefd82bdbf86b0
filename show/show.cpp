#include "show/show.h"

#include "music/music.h"
#include "render/renderer.h"
#include "shaders/shader_sources.h"
#include "show/display.h"

#include <cstdio>
#include <string>

static constexpr int EXIT_START_FAILED = 1;

static int failStart(const std::string& error, MusicPlayer& player)
{
    std::fprintf(stderr, "vantrop: %s\n", error.c_str());
    stopMusic(player);
    closeShowDisplay();
    return EXIT_START_FAILED;
}

int runShow()
{
    MusicPlayer player;
    std::string error;
    if (!openShowDisplay(&error)) return failStart(error, player);
    if (!initRenderer(showGlLookup, FRAGMENT_SOURCE, &error)) return failStart(error, player);
    if (!startMusic(player, MUSIC_FILE_NAME, &error)) return failStart(error, player);

    // Unpaced on purpose: as fast as drawing and the buffer swap allow.
    bool stop;
    do {
        readMusicPosition(player);
        renderFrame(player.positionMs);
        swapShowBuffers();
        stop = stopRequested();
    } while (!stop && player.positionMs < player.lengthMs);

    stopMusic(player);
    closeShowDisplay();
    return 0;
}
