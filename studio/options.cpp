// vantrop-studio's command line.
#include "cli/options.h"
#include "cli/command_line.h"
#include "render/from_readable.h"
#include "studio/studio.h"

#include <cstdio>
#include <cstdlib>

static const char* const PROGRAM = "vantrop-studio";
// The longest silence the studio plays in place of music, seconds.
static constexpr double MAX_SILENT_SECONDS = 3600.0;
// Set by the build while it makes the manual page from --help.
static const char* const HELP_AS_INSTALLED_VARIABLE = "VANTROP_HELP_AS_INSTALLED";
static const char* const INSTALLED_SHADERS_RULE =
    "the installed ones (share/vantrop/shaders beside the program's bin/ folder),\n"
    "or run from a build tree, the source tree's shaders/ it was built from";

static const char* const KEYS_AND_MOUSE =
    "mouse, on the timeline strip along the bottom (shown with the overlay):\n"
    "  click: seek there; with Shift to the nearest beat; drag: scrub (the sound\n"
    "  comes back on release); right-drag or Ctrl+drag: set the loop; wheel: zoom\n"
    "  around the mouse (a zoomed strip follows the playhead); drag a section's\n"
    "  start (its yellow edge) to move it to another beat (saved to the\n"
    "  schedule file, or a new vantrop-schedule.txt here)\n"
    "\n"
    "mouse, on a track's lane under the strip (+ lane: adds one):\n"
    "  click: a key at the beat (Shift: the quarter beat) holding the curve's\n"
    "  value there; drag a key: move it (snapped) and change its value (Ctrl:\n"
    "  finely); right-click: remove it. Every change is drawn at once and saved\n"
    "  to the track file, or a new vantrop-tracks.txt here\n"
    "\n"
    "keys:\n"
    "  Space          pause / play (the sound resumes at the same sample)\n"
    "  Left, Right    to the whole beat before / the next one; with Shift to the\n"
    "                 bar line (4 beats) before / the next\n"
    "  PgUp, PgDn     to the 8-bar line before / the next\n"
    "  , .            one frame (of 60 a second) back / ahead\n"
    "  Home           the start\n"
    "  J, K, L        back / stop / ahead; each further L doubles the speed up to\n"
    "                 8x (sound only at 1x)\n"
    "  [, ]           loop in / out at the current position\n"
    "  Backspace      clear the loop\n"
    "  1 to 8         the start of the show's sections, in order\n"
    "  P              cycle the preview scale (1, 2, 4, auto)\n"
    "  Tab            show / hide the overlay\n"
    "  M              show / hide the eight frame parameters (the uniform m) on it\n"
    "  F11            full screen / window\n"
    "  F12            save the frame as drawn to a new vantrop-studio-MS.png here\n"
    "                 (MS-2, MS-3... when taken)\n"
    "  I              cycle the selected key's interpolation (step, linear,\n"
    "                 smooth, ramp: how it leads to the next key)\n"
    "  Delete         remove the selected key\n"
    "  T              a lane for the next track without one\n"
    "  Ctrl+Z         undo a key's or a section's change; with Shift, redo it\n"
    "  E              export the loop (or the whole show) as a video, at the\n"
    "                 picture's size, to a new vantrop-studio-FROM-TO.mp4 here\n"
    "                 (vantrop-render video draws it; the window goes on)\n"
    "  W              publish the edit as a web site, to a new vantrop-site-N\n"
    "                 folder here (vantrop-render site makes it)\n"
    "  F              check the loop (or the show) against the photosensitivity\n"
    "                 flash thresholds in the background; failing stretches are\n"
    "                 marked red along the strip\n"
    "  Esc            quit\n";

// The help's last line: the shader folder the studio takes without --shaders.
static std::string defaultShadersLine()
{
    // The manual page is made from this text in the build tree, for an
    // installed program: it gives the rule, not the build's folder.
    std::string looked;
    const std::string folder =
        std::getenv(HELP_AS_INSTALLED_VARIABLE) ? INSTALLED_SHADERS_RULE : defaultShaderFolder(&looked);
    return "\nshaders without --shaders: " + (folder.empty() ? "none found (looked in " + looked + ")" : folder) + "\n";
}

int parseStudioOptions(int argc, char** argv, StudioOptions& o)
{
    PictureSize size{o.width, o.height};
    PositionSpan loop;
    std::string preview = "auto";
    const std::string epilogue = KEYS_AND_MOUSE + defaultShadersLine();
    const std::string music = defaultMusicPlaces();
    const std::string musicHelp = std::string("the music: ") + MUSIC_FORMATS;
    const CommandLine line{PROGRAM,
                           "[OPTION]...",
                           "Plays the vantrop show in a resizable window (no display mode change), with\n"
                           "the music, for editing it: the shader is repacked and rebuilt whenever a file\n"
                           "in its folder changes; a broken edit keeps the last good picture and names\n"
                           "the readable file and line. The picture is always the one the show draws at\n"
                           "the music's position.\n",
                           {sizeOption("--size", &size, "the window's size at start, 16:9"),
                            defaultSaid(textOption("--music", "FILE", &o.music, musicHelp.c_str()), music.c_str()),
                            aboveMin(numberOption("--silent", "SECONDS", &o.silentSeconds, 0, MAX_SILENT_SECONDS,
                                                  "play no music: silence this long (without a track the studio plays "
                                                  "silence of the show's length)")),
                            positionOption("--from", &o.from, "start at this position, milliseconds"),
                            noticed(spanOption("--loop", "A B", &loop, "loop from A to B milliseconds"), &o.loop),
                            flagOption("--paused", &o.paused, "start paused"),
                            flagOption("--message-box", &o.messageBox,
                                       "also tell a failure to start in a message box (the menu's "
                                       "entry starts it so, where nobody reads the terminal)"),
                            defaultSaid(textOption("--shaders", "DIR", &o.shaders, "the readable shader sources"),
                                        "the last line below says which"),
                            textOption("--schedule", "FILE", &o.schedule,
                                       "time the show by this schedule ('vantrop-render schedule' "
                                       "prints the built-in one to start from), watched like the "
                                       "shaders: an edit is on screen at once, the music where it was"),
                            textOption("--tracks", "FILE", &o.tracks,
                                       "key the shader's tracks by this file ('vantrop-render tracks' "
                                       "prints them), watched like the shaders; the keys made with the "
                                       "mouse are saved to it"),
                            choiceOption("--preview", "S", &preview, "1|2|4|auto",
                                         "draw at 1/S of the window's size and scale up; auto keeps "
                                         "moving frames under 50 ms and draws full size when paused")},
                           epilogue.c_str(),
                           versionLine(PROGRAM)};
    if (const int status = parseCommandLine(line, argc - 1, argv + 1); status >= 0) return status;
    if (!o.music.empty() && o.silentSeconds > 0)
        return usageError(PROGRAM, "give --music FILE or --silent SECONDS, not both");
    o.width = size.width;
    o.height = size.height;
    o.loopIn = loop.fromMs;
    o.loopOut = loop.toMs;
    o.preview = preview == "auto" ? AUTO_PREVIEW : std::atoi(preview.c_str());
    return -1;
}
