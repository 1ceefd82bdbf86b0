// The clock: which sample of the music is being heard, from the device's
// stamps, or from real time when nobody hears it.
#include "music/engine.h"
#include "music/for_tests.h"

// A device that has stopped asking for sound for this long (about 11
// buffers) once sound has flowed for a while is gone, even where SDL has not
// noticed: the clock goes on without it. A sound server may take the first
// buffer or two and then wait over a second before it starts playing.
static constexpr int64_t AUDIO_STALL_US = 1000000;
static constexpr uint64_t FLOWING_AFTER_MS = 250; // of sound handed over

// A device that SDL reports stopped, or that stopped asking for sound
// before the stream was played out.
static bool deviceLost(MusicEngine& e, int64_t nowUs)
{
    if (SDL_GetAudioDeviceStatus(e.device) != SDL_AUDIO_PLAYING) return true;
    const HandedOver h = readHandedOver(e);
    const bool flowing = h.musicFrames * 1000 >= FLOWING_AFTER_MS * uint64_t(e.rate);
    return flowing && !h.streamHandedOut && nowUs - h.stamp.handedAtUs > AUDIO_STALL_US;
}

uint32_t readMusicPosition(MusicPlayer& player)
{
    MusicEngine* e = player.engine;
    if (!e || e->paused) return player.positionMs;
    const Clock::time_point now = Clock::now();
    const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    uint64_t ms = 0;
    bool playedOut = false;
    if (!e->silent && deviceLost(*e, nowUs)) {
        // The sound is gone, but the show must go on in time and end by itself.
        e->deviceLossUntold = true;
        e->silent = true;
        e->silentStart = now;
        e->silentBaseMs = player.positionMs;
    }
    if (e->silent) {
        // Nobody hears the dummy device, so the real-time clock is the music.
        ms = e->silentBaseMs +
            uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(now - e->silentStart).count());
        playedOut = ms >= player.lengthMs;
    } else {
        const HandedOver h = readHandedOver(*e);
        if (h.started) {
            const uint64_t heard = heardFrame(h.stamp, nowUs, e->latencyFrames, e->rate);
            const uint64_t music = heard > PREROLL_FRAMES ? heard - PREROLL_FRAMES : 0;
            ms = (e->startFrame + music) * 1000 / uint64_t(e->rate);
            playedOut = h.streamHandedOut && music >= h.musicFrames;
        }
    }
    player.positionMs = nextShownMs(player.positionMs, ms, playedOut, player.lengthMs);
    return player.positionMs;
}

bool musicIsSilent(const MusicPlayer& player)
{
    return player.engine && player.engine->silent;
}
