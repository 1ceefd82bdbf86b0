#include "render_tool/offline.h"

#include "shaders/track_uniforms.h"
#include "timeline/schedule_file.h"
#include "timeline/track_file.h"

Option shadersOption(std::string* folder)
{
    return textOption("--shaders", "DIR", folder,
                      "draw with the readable shader sources in DIR (vertex.glsl, main.glsl, "
                      "interface.glsl, scene.glsl, camera.glsl, shading.glsl: an edited copy of "
                      "the shaders/ folder), packed as the studio packs them");
}

Option scheduleOption(std::string* file)
{
    return textOption("--schedule", "FILE", file,
                      "time the show by the schedule in FILE (the form 'vantrop-render "
                      "schedule' prints) instead of the built-in one; the shader is then "
                      "packed from the readable sources (--shaders DIR, else the installed "
                      "ones) with its values");
}

Option tracksOption(std::string* file)
{
    return textOption("--tracks", "FILE", file,
                      "key the shader's tracks by FILE (the form 'vantrop-render tracks' "
                      "prints); the shader is then packed from the readable sources "
                      "(--shaders DIR, else the installed ones) with the tracks as uniforms");
}

Option forceOption(bool* force)
{
    return flagOption("--force", force, "replace the output file if it exists (else it is refused)");
}

static bool useShaderFolder(Offline& o, const std::string& folder, std::string* error)
{
    if (!readShaderSources(shaderFilesIn(folder), o.folderSources, error)) return false;
    o.shaderFolder = folder;
    return true;
}

// With a schedule or track file and no --shaders: the installed readable sources.
static bool findReadableShaders(Offline& o, std::string* error)
{
    if (!o.shaderFolder.empty()) return true;
    std::string looked;
    const std::string folder = defaultShaderFolder(&looked);
    if (folder.empty()) {
        *error =
            "drawing with --schedule or --tracks packs the show's readable shaders, and none are installed "
            "(looked in " +
            looked + "); give --shaders DIR";
        return false;
    }
    return useShaderFolder(o, folder, error);
}

bool declaredShaderTracks(Offline& o, Tracks& declared, std::string* error)
{
    return findReadableShaders(o, error) && declaredTracks(o.folderSources, declared, error);
}

bool useDrawingSources(Offline& o, const DrawingSources& sources, std::string* error)
{
    if (!sources.shaders.empty() && !useShaderFolder(o, sources.shaders, error)) return false;
    if (!sources.schedule.empty()) {
        if (!readScheduleFile(sources.schedule, o.schedule, error)) return false;
        o.scheduleGiven = true;
    }
    if (sources.schedule.empty() && sources.tracks.empty()) return true;
    Tracks declared;
    if (!declaredShaderTracks(o, declared, error)) return false;
    o.tracks = declared;
    if (sources.tracks.empty()) return true;
    o.tracksGiven = true;
    return readTrackFile(sources.tracks, declared, o.tracks, error);
}

int parseDrawingCommand(const CommandLine& line, int argc, char** argv, const DrawingSources& sources, Offline& offline)
{
    if (const int status = parseCommandLine(line, argc, argv); status >= 0) return status;
    std::string error;
    return useDrawingSources(offline, sources, &error) ? -1 : usageError(line.command, error);
}

// The show's set from the folder given, or the build's own; every program
// built, or with framePositionMs only that frame's.
static bool initShow(Offline& o, int width, int height, std::string* error, const int64_t* framePositionMs = nullptr)
{
    if (o.shaderFolder.empty())
        return framePositionMs
            ? useShowProgramsForFrame(*o.renderer, width, height, o.schedule, uint32_t(*framePositionMs), error)
            : useShowPrograms(*o.renderer, width, height, error);
    if (!o.readable) o.readable = createReadablePrograms(false, o.tracksGiven);
    if (useReadablePrograms(*o.readable, *o.renderer, o.folderSources, o.schedule, width, height, error,
                            framePositionMs)) {
        if (o.tracksGiven) setRendererTracks(*o.renderer, o.tracks);
        return true;
    }
    *error = "the shaders in " + o.shaderFolder + " do not build (fix them, or leave out --shaders): " + *error;
    return false;
}

// The headless context, its offscreen target and an empty renderer.
static bool openContext(Offline& o, int width, int height, std::string* error)
{
    o.context = openHeadlessContext(error);
    if (!o.context || !createOffscreenTarget(*o.context, width, height, error)) return false;
    o.renderer = createRenderer(headlessLookup(*o.context), error);
    return o.renderer != nullptr;
}

bool openOfflineRenderer(Offline& o, int width, int height, std::string* error)
{
    return openContext(o, width, height, error) && initShow(o, width, height, error);
}

bool openOfflineRendererForFrame(Offline& o, int width, int height, uint32_t positionMs, std::string* error)
{
    const int64_t frame = positionMs;
    return openContext(o, width, height, error) && initShow(o, width, height, error, &frame);
}

bool useShowShader(Offline& o, int width, int height, std::string* error)
{
    return initShow(o, width, height, error);
}

bool useSingleShader(Offline& o, const char* fragmentSource, int width, int height, std::string* error)
{
    return useSingleProgram(*o.renderer, fragmentSource, width, height, error);
}

std::vector<uint8_t> renderImage(Offline& o, uint32_t positionMs, int width, int height)
{
    renderFrame(*o.renderer, o.schedule, positionMs);
    return readPixelsRgb(width, height);
}

void closeOffline(Offline& o)
{
    destroyReadablePrograms(o.readable);
    destroyRenderer(o.renderer);
    closeHeadlessContext(o.context);
    o.readable = nullptr;
    o.renderer = nullptr;
    o.context = nullptr;
}
