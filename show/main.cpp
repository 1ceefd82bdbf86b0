// vantrop: the show. Its command line only names another music file; with
// no arguments it plays lomu_hmm.mp3 from the working directory.
#include "cli/command_line.h"
#include "cli/options.h"
#include "music/music.h"
#include "render/from_readable.h"
#include "shaders/track_uniforms.h"
#include "show/display.h"
#include "show/session.h"
#include "show/show.h"
#include "timeline/schedule_file.h"
#include "timeline/track_file.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// What else ends the show, in the words of each system.
#ifdef _WIN32
#define STOP_REQUESTS "Ctrl+C, Ctrl+Break, closing its console"
#define SECOND_STOP_STATUS "130"
#else
#define SECOND_STOP_STATUS "128 + N (signal N)"
#define STOP_REQUESTS "Ctrl+C, SIGTERM, SIGHUP"
#endif

static const char* const PROGRAM = "vantrop";
// The 1920x1080 show, beside the 1280x720 one, and the desktop it suits.
#ifdef _WIN32
static const char* const LARGER_PROGRAM = "vantrop-1080p.exe";
#else
static const char* const LARGER_PROGRAM = "vantrop-1080p";
#endif
static constexpr int LARGER_WIDTH = 1920, LARGER_HEIGHT = 1080;
// The screen size this program's shader is built for, in pixels; the one
// file compiled once per size.
static constexpr int SHOW_WIDTH = VANTROP_SHOW_WIDTH;
static constexpr int SHOW_HEIGHT = VANTROP_SHOW_HEIGHT;
// The help's texts with the size and the grace in them, filled in at run time.
static const char* const DESCRIPTION =
    "Plays the vantrop show full-screen: the screen switches to %dx%d (a screen\n"
    "without that mode keeps its own, the picture scaled to fit), the music plays\n"
    "and the picture follows it until the music has played out. ESC (or closing\n"
    "the window, " STOP_REQUESTS
    ") ends it early; the desktop's display mode\n"
    "and cursor come back either way.\n";
static const char* const EXIT_STATUS =
    "Exit status: 0 when the show ended, 1 when it could not start (one line on\n"
    "standard error says why), 2 for a command-line mistake, " SECOND_STOP_STATUS
    " when a\n"
    "second request, or a frame still drawing %g s after the first, ended it at once.\n";

static std::string filledIn(const char* format, ...)
{
    char text[1024];
    va_list values;
    va_start(values, format);
    std::vsnprintf(text, sizeof text, format, values);
    va_end(values);
    return text;
}

static bool isRegularFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// With --best-size on a desktop of at least 1920x1080, the 1920x1080 show
// beside this one plays in its place, with the same arguments; returns
// only where it does not.
static void playTheLargerBuild(int argc, char** argv)
{
    int width = 0, height = 0;
    if (SHOW_WIDTH >= LARGER_WIDTH || !desktopSize(&width, &height) || width < LARGER_WIDTH || height < LARGER_HEIGHT)
        return;
    const std::string folder = programFolder();
    const std::string larger = folder + "/" + LARGER_PROGRAM;
    if (folder.empty() || !isRegularFile(larger)) return;
    std::vector<char*> arguments = {const_cast<char*>(larger.c_str())};
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--best-size") != 0) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    std::fflush(nullptr);
    execv(larger.c_str(), arguments.data());
}

int main(int argc, char** argv)
{
    std::string music = defaultMusicFile(), schedule, trackFile;
    bool messageBox = false, windowed = false, bestSize = false;
    const std::string musicPlaces = defaultMusicPlaces();
    const std::string musicHelp = std::string("the sound file to play: ") + MUSIC_FORMATS;
    const std::string description = filledIn(DESCRIPTION, SHOW_WIDTH, SHOW_HEIGHT);
    const std::string exitStatus = filledIn(EXIT_STATUS, STOP_GRACE_MS / 1000.0);
    const CommandLine line{
        PROGRAM,
        "[--music FILE] [--schedule FILE] [--tracks FILE] [--window] [--message-box]",
        description.c_str(),
        {defaultSaid(textOption("--music", "FILE", &music, musicHelp.c_str()), musicPlaces.c_str()),
         flagOption("--best-size", &bestSize,
                    "play the 1920x1080 show beside this one (vantrop-1080p) where the desktop is "
                    "at least 1920x1080, as the menu's entry does"),
         flagOption("--window", &windowed,
                    "play in a resizable window, the picture scaled to fit (F11: full screen and back)"),
         flagOption("--message-box", &messageBox,
                    "also tell a failure to start in a message box (the menu's "
                    "entry starts it so, where nobody reads the terminal)"),
         textOption("--schedule", "FILE", &schedule,
                    "the show timed by this schedule (the form 'vantrop-render "
                    "schedule' prints) instead of the built-in one; the shader is "
                    "then packed from the installed readable sources"),
         textOption("--tracks", "FILE", &trackFile,
                    "the shader's tracks keyed by this file (the form 'vantrop-render "
                    "tracks' prints); the shader is then packed from the installed "
                    "readable sources")},
        exitStatus.c_str(),
        filledIn("vantrop %s (%dx%d)", VANTROP_VERSION, SHOW_WIDTH, SHOW_HEIGHT)};
    if (const int status = parseCommandLine(line, argc - 1, argv + 1); status >= 0) return status;
    if (messageBox) tellFailuresInABox();
    if (bestSize) playTheLargerBuild(argc, argv);
    // A schedule or track file is checked, and the readable shaders it needs
    // are read, before anything touches the screen.
    ShaderSources readable;
    ScheduleValues values;
    Tracks tracks;
    std::string error;
    if (!schedule.empty() && !readScheduleFile(schedule, values, &error)) return usageError(PROGRAM, error);
    if (schedule.empty() && trackFile.empty())
        return runShow(music.c_str(), SHOW_WIDTH, SHOW_HEIGHT, windowed, values, nullptr, nullptr);
    std::string looked;
    const std::string folder = defaultShaderFolder(&looked);
    if (folder.empty()) {
        tellStartFailure(
            "a show timed by --schedule or keyed by --tracks packs the show's readable shaders, and "
            "none are installed (looked in " +
            looked + "); install vantrop with its shaders, or leave out --schedule and --tracks");
        return EXIT_FAILED;
    }
    if (!readShaderSources(shaderFilesIn(folder), readable, &error)) {
        tellStartFailure(error);
        return EXIT_FAILED;
    }
    Tracks declared;
    if (!declaredTracks(readable, declared, &error)) {
        tellStartFailure(error);
        return EXIT_FAILED;
    }
    if (!trackFile.empty() && !readTrackFile(trackFile, declared, tracks, &error)) return usageError(PROGRAM, error);
    return runShow(music.c_str(), SHOW_WIDTH, SHOW_HEIGHT, windowed, values, &readable,
                   trackFile.empty() ? nullptr : &tracks);
}
