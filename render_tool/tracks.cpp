#include "render_tool/tracks.h"

#include "cli/command_line.h"
#include "render_tool/offline.h"
#include "timeline/rocket.h"
#include "timeline/text_file.h"
#include "timeline/track_file.h"

#include <cmath>
#include <cstdio>

// Rows a beat when none are given: eight, a row a 32nd note in 4/4.
static constexpr uint32_t DEFAULT_ROWS_PER_BEAT = 8;
// The largest XML file read, bytes (16 MiB: hundreds of thousands of keys).
static constexpr long ROCKET_FILE_MAX_BYTES = 16L * 1024 * 1024;

int runTracks(int argc, char** argv)
{
    DrawingSources sources;
    std::string import;
    bool exportXml = false;
    uint32_t rowsPerBeat = DEFAULT_ROWS_PER_BEAT;
    const CommandLine line{
        "vantrop-render tracks",
        "[--shaders DIR] [--tracks FILE | --import FILE.rocket] [--export] [--rows-per-beat N]",
        "Prints every track of the shaders in use (each a uniform the shader declares\n"
        "with '// @track DEFAULT') as a track file, each with one key at beat 0 holding\n"
        "its default: the starting point for an edit, which draws every pixel as the\n"
        "shader's defaults do. Under 'track NAME', each line is a key: BEAT VALUE\n"
        "INTERPOLATION, the interpolation one of step, linear, smooth and ramp (towards\n"
        "the next key; the last key holds its value), beats as in the schedule. Give\n"
        "the file with --tracks FILE to vantrop, vantrop-studio or vantrop-render.\n"
        "With --tracks FILE it prints that file's keys once they are checked; with\n"
        "--import it reads the XML that sync-tracker editors (GNU Rocket and its kin)\n"
        "save, and with --export it prints the tracks as that XML.\n",
        {shadersOption(&sources.shaders), tracksOption(&sources.tracks),
         textOption("--import", "FILE.rocket", &import,
                    "read the tracks from a sync-tracker editor's XML (<tracks>, <track name>, <key row "
                    "value interpolation 0-3>)"),
         flagOption("--export", &exportXml, "print the tracks as a sync-tracker editor's XML"),
         countOption("--rows-per-beat", "N", &rowsPerBeat, 1, MAX_ROWS_PER_BEAT,
                     "the editor's rows a beat, for --import and --export")},
        "",
        ""};
    if (const int status = parseCommandLine(line, argc, argv); status >= 0) return status;
    if (!import.empty() && !sources.tracks.empty())
        return usageError(line.command, "give --tracks FILE or --import FILE.rocket, not both");
    Offline offline;
    Tracks declared, tracks;
    std::string error, xml;
    if (!useDrawingSources(offline, DrawingSources{sources.shaders, "", ""}, &error) ||
        !declaredShaderTracks(offline, declared, &error))
        return usageError(line.command, error);
    tracks = defaultKeyed(declared);
    if (!sources.tracks.empty() && !readTrackFile(sources.tracks, declared, tracks, &error))
        return usageError(line.command, error);
    if (!import.empty() &&
        (!readSmallTextFile(import, "the sync-tracker file", ROCKET_FILE_MAX_BYTES, xml, &error) ||
         !parseRocketXml(xml, import, int(rowsPerBeat), declared, tracks, &error)))
        return usageError(line.command, error);
    if (!exportXml) {
        std::fputs(tracksText(tracks).c_str(), stdout);
        return EXIT_DONE;
    }
    const int rows = int(std::ceil(double(BUILT_IN_SCHEDULE.FADE_OUT_END_BEAT) * rowsPerBeat));
    if (!rocketXml(tracks, int(rowsPerBeat), rows, xml, &error)) {
        std::fprintf(stderr, "%s: %s\n", line.command, error.c_str());
        return EXIT_FAILED;
    }
    std::fputs(xml.c_str(), stdout);
    return EXIT_DONE;
}
