// Where the show's own track is looked for when no file is named.
#include "music/music.h"

#include <sys/stat.h>

#include <cstdlib>

static bool isRegularFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string musicDataFolder()
{
#ifdef _WIN32
    return ""; // the track lies beside the program, its working folder when double-clicked
#endif
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/vantrop";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/share/vantrop";
    return "";
}

std::string defaultMusicPlaces()
{
#ifdef _WIN32
    return std::string(MUSIC_FILE_NAME) + " in the working folder";
#else
    return std::string(MUSIC_FILE_NAME) +
        " in the working folder, else in $XDG_DATA_HOME/vantrop, ~/.local/share/vantrop";
#endif
}

std::string defaultMusicFile()
{
    if (isRegularFile(MUSIC_FILE_NAME)) return MUSIC_FILE_NAME;
    const std::string folder = musicDataFolder();
    const std::string installed = folder + "/" + MUSIC_FILE_NAME;
    return !folder.empty() && isRegularFile(installed) ? installed : MUSIC_FILE_NAME;
}
