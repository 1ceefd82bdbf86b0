// Playback: opening the stream, starting, pausing and seeking it, and stopping it.
#include "music/engine.h"

#include <cstdio>

// The rate silence plays at in place of a file, Hz.
static constexpr long SILENCE_RATE = 44100;

bool openMusic(MusicPlayer& player, const char* fileName, std::string* error)
{
    stopMusic(player);
    if (!audioLibrariesSupported(runningSdlVersion(), runningMpg123Version(), error)) return false;
    MusicEngine* e = new MusicEngine;
    player.engine = e;
    e->fileName = fileName;
    e->program = player.program;
    fileState(e->fileName, &e->fileSize, &e->fileModifiedNs);
    e->decoder = openDecoder(fileName, &e->rate, error);
    if (!e->decoder) {
        stopMusic(player);
        return false;
    }
    // The length and the damage are read off the whole file, which takes a
    // while for a long one (about 20 s for ten hours): say so first.
    if (lengthTakesAWhile(e->decoder, e->fileSize))
        std::fprintf(
            stderr, "%s: reading %s (%lld MB) through for its exact length and any damage; a long file takes a while\n",
            e->program, fileName, (long long)(e->fileSize / 1000000));
    if (const std::string damage = describeMusicDamage(fileName); !damage.empty())
        std::fprintf(stderr, "%s: %s\n", e->program, damage.c_str());
    e->totalFrames = scanLengthFrames(e->decoder);
    player.lengthMs = framesToMs(e->totalFrames, e->rate);
    player.positionMs = 0;
    prefillRing(*e);
    return true;
}

bool openSilentMusic(MusicPlayer& player, uint32_t lengthMs, std::string* error)
{
    stopMusic(player);
    if (!audioLibrariesSupported(runningSdlVersion(), runningMpg123Version(), error)) return false;
    MusicEngine* e = new MusicEngine;
    player.engine = e;
    e->program = player.program;
    e->rate = SILENCE_RATE;
    e->totalFrames = uint64_t(lengthMs) * uint64_t(SILENCE_RATE) / 1000;
    // The ring's stand-in for a file that lost its sound, from the first
    // sample on: silence up to the length, with nothing to tell.
    e->fileChanged.store(true);
    e->changeTold = true;
    player.lengthMs = lengthMs;
    player.positionMs = 0;
    prefillRing(*e);
    return true;
}

void pauseMusic(MusicPlayer& player)
{
    MusicEngine* e = player.engine;
    if (!e || e->paused) return;
    readMusicPosition(player);
    e->paused = true;
    if (e->device) SDL_PauseAudioDevice(e->device, 1);
}

void playMusicFrom(MusicPlayer& player, uint32_t positionMs)
{
    MusicEngine* e = player.engine;
    if (!e) return;
    // With the callback held off, the ring and the stamps start again from
    // the wanted sample; the lead-in silence plays first, as at the start.
    if (e->device) SDL_LockAudioDevice(e->device);
    stopDecoder(*e);
    // The first sample at or after the millisecond, so that the position reads back as asked.
    const uint64_t frame = (uint64_t(positionMs) * uint64_t(e->rate) + 999) / 1000;
    // A seek the file cannot follow any more (it changed under us) stays
    // where it was asked to go, in silence.
    const bool sought = e->decoder && seekDecoder(e->decoder, frame);
    if (!sought && fileChangedUnder(*e, frame)) e->fileChanged.store(true);
    e->startFrame = sought || e->fileChanged.load() ? frame : 0;
    prefillRing(*e);
    startDecoder(*e);
    e->prerollLeft = PREROLL_FRAMES;
    resetHandedOver(*e);
    player.positionMs = uint32_t(e->startFrame * 1000 / uint64_t(e->rate));
    e->silentBaseMs = player.positionMs;
    e->silentStart = Clock::now();
    e->paused = false;
    if (e->device) {
        SDL_UnlockAudioDevice(e->device);
        SDL_PauseAudioDevice(e->device, 0);
    }
}

bool playMusic(MusicPlayer& player, std::string* error)
{
    MusicEngine* e = player.engine;
    startDecoder(*e);
    quietenSoundLibraries(true);
    const bool opened = openDevice(*e, error);
    quietenSoundLibraries(false);
    if (!opened) {
        stopMusic(player);
        return false;
    }
    e->silentStart = Clock::now();
    SDL_PauseAudioDevice(e->device, 0);
    return true;
}

std::string takeMusicNotice(MusicPlayer& player)
{
    MusicEngine* e = player.engine;
    if (e && e->deviceLossUntold) {
        e->deviceLossUntold = false;
        return "the audio device was lost; the show goes on silently, in time";
    }
    if (!e || e->changeTold || !e->fileChanged.load()) return "";
    e->changeTold = true;
    const uint32_t ms = player.lengthMs;
    char length[32];
    std::snprintf(length, sizeof length, "%u:%02u.%03u", ms / 60000, ms / 1000 % 60, ms % 1000);
    return "the music file " + e->fileName + " changed while it played (cut short or replaced); silence stands in " +
        "for the sound it lost, up to the length it had (" + length + ")";
}

void stopMusic(MusicPlayer& player)
{
    MusicEngine* e = player.engine;
    if (!e) return;
    // The device first: closing it waits for a callback in progress.
    if (e->device) SDL_CloseAudioDevice(e->device);
    if (e->audioInitialised) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    stopDecoder(*e);
    closeDecoder(e->decoder);
    delete e;
    player.engine = nullptr;
}
