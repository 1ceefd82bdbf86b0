#include "render_tool/offline.h"

#include "image/png_file.h"
#include "render/headless.h"
#include "render/renderer.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static constexpr int MAX_WIDTH = 7680; // pixels: 8K is the largest frame the tools accept

bool parseUint32(const char* text, uint32_t& value)
{
    if (!text || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno || *end || parsed > 0xFFFFFFFFull) return false;
    value = uint32_t(parsed);
    return true;
}

bool parseSize(const char* text, int& width, int& height, std::string* error)
{
    const std::string s = text ? text : "";
    const size_t x = s.find('x');
    uint32_t w = 0, h = 0;
    if (x == std::string::npos || !parseUint32(s.substr(0, x).c_str(), w) || !parseUint32(s.substr(x + 1).c_str(), h)) {
        *error = "bad size '" + s + "': write it as WIDTHxHEIGHT, for example 320x180";
        return false;
    }
    if (w == 0 || h == 0 || uint64_t(w) * 9 != uint64_t(h) * 16 || w > MAX_WIDTH) {
        *error = "bad size '" + s +
            "': the show is framed for 16:9, from 16x9 to 7680x4320 (for example 320x180, "
            "1280x720, 1920x1080)";
        return false;
    }
    width = int(w);
    height = int(h);
    return true;
}

bool isHelp(const char* arg)
{
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

bool optionRepeated(const char* command, std::vector<std::string>& seen, const std::string& arg)
{
    if (arg.rfind("--", 0) != 0) return false;
    if (std::find(seen.begin(), seen.end(), arg) == seen.end()) {
        seen.push_back(arg);
        return false;
    }
    usageError(command, arg + " is given twice; give it once");
    return true;
}

int usageError(const char* command, const std::string& message)
{
    std::fprintf(stderr, "vantrop-render %s: %s (see 'vantrop-render %s --help')\n", command, message.c_str(), command);
    return EXIT_USAGE;
}

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

bool openOfflineRenderer(int width, int height, std::string* error)
{
    return openHeadlessContext(error) && createOffscreenTarget(width, height, error) &&
        initShowRenderer(headlessLookup, width, height, error);
}

bool openOfflineRendererForFrame(int width, int height, uint32_t positionMs, std::string* error)
{
    return openHeadlessContext(error) && createOffscreenTarget(width, height, error) &&
        initShowRendererForFrame(headlessLookup, width, height, positionMs, error);
}

bool useShowShader(int width, int height, std::string* error)
{
    return initShowRenderer(headlessLookup, width, height, error);
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
