#include "render_tool/offline.h"

#include "image/png_file.h"
#include "render/from_readable.h"
#include "render/headless.h"
#include "render/renderer.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>

bool stderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr));
#else
    return isatty(STDERR_FILENO);
#endif
}

bool writePngSafely(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, std::string* error)
{
    const std::string temporary = makeTemporaryBeside(path, ".png", error);
    if (temporary.empty()) return false;
    if (!writePngRgb(temporary, width, height, rgb, error)) {
        std::remove(temporary.c_str());
        *error += " (writing " + path + ")";
        return false;
    }
    return moveIntoPlace(temporary, path, error);
}

// The readable sources given with --shaders, read once; none: the build's own shader.
static ShaderSources folderSources;
static std::string shaderFolder;

bool useShaderFolder(const std::string& folder, std::string* error)
{
    if (!readShaderSources(shaderFilesIn(folder), folderSources, error)) return false;
    shaderFolder = folder;
    return true;
}

// The show's set from the folder given, or the build's own; every program built.
static bool initShow(int width, int height, std::string* error)
{
    if (shaderFolder.empty()) return initShowRenderer(headlessLookup, width, height, error);
    if (initRendererFromReadable(headlessLookup, folderSources, width, height, error)) return true;
    *error = "the shaders in " + shaderFolder + " do not build (fix them, or leave out --shaders): " + *error;
    return false;
}

bool openOfflineRenderer(int width, int height, std::string* error)
{
    return openHeadlessContext(error) && createOffscreenTarget(width, height, error) && initShow(width, height, error);
}

bool openOfflineRendererForFrame(int width, int height, uint32_t positionMs, std::string* error)
{
    if (!shaderFolder.empty()) return openOfflineRenderer(width, height, error);
    return openHeadlessContext(error) && createOffscreenTarget(width, height, error) &&
        initShowRendererForFrame(headlessLookup, width, height, positionMs, error);
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
