// vantrop: the show. Its command line only names another music file; with
// no arguments it plays lomu_hmm.mp3 from the working directory.
#include "cli/command_line.h"
#include "music/music.h"
#include "render/from_readable.h"
#include "show/session.h"
#include "show/show.h"
#include "timeline/schedule_file.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// What else ends the show, in the words of each system.
#ifdef _WIN32
#define STOP_REQUESTS "Ctrl+C, Ctrl+Break, closing its console"
#define SECOND_STOP_STATUS "130"
#define DEFAULT_MUSIC "in the working folder)\n"
#else
#define DEFAULT_MUSIC          \
    "in the working folder,\n" \
    "                else in $XDG_DATA_HOME/vantrop, ~/.local/share/vantrop)\n"
#define SECOND_STOP_STATUS "128 + N (signal N)"
#define STOP_REQUESTS "Ctrl+C, SIGTERM, SIGHUP"
#endif

static const char* const HELP =
    "Usage: vantrop [--music FILE] [--schedule FILE] [--message-box]\n"
    "\n"
    "Plays the vantrop show full-screen: the screen switches to %dx%d, the music\n"
    "plays and the picture follows it until the music has played out. ESC (or\n"
    "closing the window, " STOP_REQUESTS
    ") ends it early; the desktop's\n"
    "display mode and cursor come back either way.\n"
    "\n"
    "  --music FILE  the MP3 to play (default lomu_hmm.mp3 " DEFAULT_MUSIC
    "  --message-box also tell a failure to start in a message box (the menu's\n"
    "                entry starts it so, where nobody reads the terminal)\n"
    "  --schedule FILE  the show timed by this schedule (the form 'vantrop-render\n"
    "                schedule' prints) instead of the built-in one; the shader is\n"
    "                then packed from the installed readable sources\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "\n"
    "Exit status: 0 when the show ended, 1 when it could not start (one line on\n"
    "standard error says why), 2 for a command-line mistake, " SECOND_STOP_STATUS
    " when a\n"
    "second request, or a frame still drawing %g s after the first, ended it at once.\n";

static const char* const PROGRAM = "vantrop";
// The screen size this program's shader is built for, in pixels; the one
// file compiled once per size.
static constexpr int SHOW_WIDTH = VANTROP_SHOW_WIDTH;
static constexpr int SHOW_HEIGHT = VANTROP_SHOW_HEIGHT;

int main(int argc, char** argv)
{
    std::string music = defaultMusicFile();
    const char* schedule = nullptr;
    std::vector<std::string> seen;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionRepeated(PROGRAM, seen, arg)) return EXIT_USAGE;
        if (isHelp(argv[i])) {
            std::printf(HELP, SHOW_WIDTH, SHOW_HEIGHT, STOP_GRACE_MS / 1000.0);
            return 0;
        }
        if (isVersion(argv[i])) {
            std::printf("vantrop %s (%dx%d)\n", VANTROP_VERSION, SHOW_WIDTH, SHOW_HEIGHT);
            return 0;
        }
        if (arg == "--music" && i + 1 < argc && argv[i + 1][0] != '\0') {
            music = argv[++i];
            continue;
        }
        if (arg == "--music") return usageError(PROGRAM, "--music needs a file name");
        if (arg == "--message-box") {
            tellFailuresInABox();
            continue;
        }
        if (arg == "--schedule" && i + 1 < argc) {
            schedule = argv[++i];
            continue;
        }
        if (arg == "--schedule") return usageError(PROGRAM, "--schedule needs a file name");
        return usageError(PROGRAM, "unknown argument '" + arg + "'");
    }
    // A schedule file is checked, and the readable shaders it needs are
    // read, before anything touches the screen.
    ShaderSources readable;
    ScheduleValues values;
    if (schedule) {
        std::string error;
        if (!readScheduleFile(schedule, values, &error)) return usageError(PROGRAM, error);
        std::string looked;
        const std::string folder = defaultShaderFolder(&looked);
        if (folder.empty()) {
            tellStartFailure(
                "a show timed by --schedule packs the show's readable shaders, and none are installed "
                "(looked in " +
                looked + "); install vantrop with its shaders, or leave out --schedule");
            return EXIT_FAILED;
        }
        if (!readShaderSources(shaderFilesIn(folder), readable, &error)) {
            tellStartFailure(error);
            return EXIT_FAILED;
        }
    }
    return runShow(music.c_str(), SHOW_WIDTH, SHOW_HEIGHT, values, schedule ? &readable : nullptr);
}
