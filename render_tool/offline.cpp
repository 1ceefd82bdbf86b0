#include "render_tool/offline.h"

#include "cli/command_line.h"

#include "image/png_file.h"
#include "render/from_readable.h"
#include "render/headless.h"
#include "render/renderer.h"
#include "timeline/schedule_file.h"

#include <cstdio>

// The readable sources given with --shaders, read once; none: the build's own shader.
static ShaderSources folderSources;
static std::string shaderFolder;
// A schedule file was given: the build's own shader has the built-in values written in.
static bool scheduleGiven;

bool useScheduleFile(const std::string& path, std::string* error)
{
    ScheduleValues values;
    if (!readScheduleFile(path, values, error)) return false;
    useSchedule(values);
    scheduleGiven = true;
    return true;
}

// With a schedule file and no --shaders: the installed readable sources.
static bool findShadersForSchedule(std::string* error)
{
    if (!scheduleGiven || !shaderFolder.empty()) return true;
    std::string looked;
    const std::string folder = defaultShaderFolder(&looked);
    if (folder.empty()) {
        *error = "drawing with --schedule packs the show's readable shaders, and none are installed (looked in " +
            looked + "); give --shaders DIR";
        return false;
    }
    return useShaderFolder(folder, error);
}

bool useShaderFolder(const std::string& folder, std::string* error)
{
    if (!readShaderSources(shaderFilesIn(folder), folderSources, error)) return false;
    shaderFolder = folder;
    return true;
}

// The show's set from the folder given, or the build's own; every program
// built, or with framePositionMs only that frame's.
static bool initShow(int width, int height, std::string* error, const int64_t* framePositionMs = nullptr)
{
    if (!findShadersForSchedule(error)) return false;
    if (shaderFolder.empty())
        return framePositionMs
            ? initShowRendererForFrame(headlessLookup, width, height, uint32_t(*framePositionMs), error)
            : initShowRenderer(headlessLookup, width, height, error);
    if (initRendererFromReadable(headlessLookup, folderSources, width, height, error, framePositionMs)) return true;
    *error = "the shaders in " + shaderFolder + " do not build (fix them, or leave out --shaders): " + *error;
    return false;
}

bool openOfflineRenderer(int width, int height, std::string* error)
{
    return openHeadlessContext(error) && createOffscreenTarget(width, height, error) && initShow(width, height, error);
}

bool openOfflineRendererForFrame(int width, int height, uint32_t positionMs, std::string* error)
{
    const int64_t frame = positionMs;
    return openHeadlessContext(error) && createOffscreenTarget(width, height, error) &&
        initShow(width, height, error, &frame);
}

bool useShowShader(int width, int height, std::string* error)
{
    return initShow(width, height, error);
}

bool useSingleShader(const char* fragmentSource, int width, int height, std::string* error)
{
    return initSingleProgramRenderer(headlessLookup, fragmentSource, width, height, error);
}

std::vector<uint8_t> renderImage(uint32_t positionMs, int width, int height)
{
    renderFrame(positionMs);
    return readPixelsRgb(width, height);
}
