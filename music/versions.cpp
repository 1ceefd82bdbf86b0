// The audio libraries' versions: the ones running and the ones the program needs.
#include "music/music.h"

#include <SDL.h>
#ifdef __linux__
#include <dlfcn.h>
#endif

#include <cstdio>

// SDL 2.24 brings SDL_ResetHint, which undoes the silent fallback between
// runs; libmpg123 1.25 gives exact gapless lengths from mpg123_scan.
static constexpr LibraryVersion MIN_SDL_VERSION = {2, 24, 0};
static constexpr LibraryVersion MIN_MPG123_VERSION = {1, 25, 0};
bool versionAtLeast(LibraryVersion have, LibraryVersion minimum)
{
    if (have.major != minimum.major) return have.major > minimum.major;
    if (have.minor != minimum.minor) return have.minor > minimum.minor;
    return have.patch >= minimum.patch;
}

static std::string versionText(LibraryVersion v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

bool audioLibrariesSupported(LibraryVersion sdl, LibraryVersion mpg123, std::string* error)
{
    const char* name = nullptr;
    LibraryVersion have{}, need{};
    if (!versionAtLeast(sdl, MIN_SDL_VERSION)) {
        name = "SDL2";
        have = sdl;
        need = MIN_SDL_VERSION;
    } else if (!versionAtLeast(mpg123, MIN_MPG123_VERSION)) {
        name = "libmpg123";
        have = mpg123;
        need = MIN_MPG123_VERSION;
    } else {
        return true;
    }
    *error = std::string("the audio library ") + name + " is version " + versionText(have) + ", older than " +
        versionText(need) + " that vantrop needs: update " + name + " (Debian package " +
        (name[0] == 'S' ? "libsdl2-2.0-0" : "libmpg123-0") + ")";
    return false;
}

LibraryVersion runningSdlVersion()
{
    SDL_version v;
    SDL_GetVersion(&v);
    return {v.major, v.minor, v.patch};
}

static LibraryVersion parseVersion(const char* text)
{
    LibraryVersion v{0, 0, 0};
    std::sscanf(text, "%d.%d.%d", &v.major, &v.minor, &v.patch);
    return v;
}

LibraryVersion runningMpg123Version()
{
    // libmpg123 reports its version at run time from 1.32 on; an older one
    // is the release the program was built against (the same soname).
    // Linked statically (Windows), it is exactly that release.
#ifdef __linux__
    using DistVersion = const char* (*)(unsigned*, unsigned*, unsigned*);
    if (auto distVersion = reinterpret_cast<DistVersion>(dlsym(RTLD_DEFAULT, "mpg123_distversion")))
        return parseVersion(distVersion(nullptr, nullptr, nullptr));
#endif
    return parseVersion(VANTROP_MPG123_BUILD_VERSION);
}
