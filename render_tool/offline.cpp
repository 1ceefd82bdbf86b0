#include "render_tool/offline.h"

#include "image/png_file.h"
#include "render/headless.h"
#include "render/renderer.h"
#include "shaders/shader_sources.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

int usageError(const char* command, const std::string& message)
{
    std::fprintf(stderr, "vantrop-render %s: %s (see 'vantrop-render %s --help')\n", command, message.c_str(), command);
    return EXIT_USAGE;
}

static std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

static std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool checkOutputPath(const std::string& path, const std::vector<std::string>& extensions,
                     const std::vector<std::string>& inputs, std::string* error)
{
    const std::string lower = lowerCase(path);
    const bool known = std::any_of(extensions.begin(), extensions.end(), [&](const std::string& e) {
        return lower.size() > e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0 &&
            lower[lower.size() - e.size() - 1] != '/';
    });
    if (!known) {
        std::string list;
        for (const std::string& e : extensions) list += (list.empty() ? "" : ", ") + e;
        *error = "cannot write '" + path + "': name the file with one of " + list;
        return false;
    }
    const std::string folder = folderOf(path);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = "cannot write " + path + ": the folder " + folder + " does not exist";
        return false;
    }
    if (access(folder.c_str(), W_OK) != 0) {
        *error = "cannot write " + path + ": the folder " + folder + " is not writable (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat out {};
    if (stat(path.c_str(), &out) != 0) return true;
    if (S_ISDIR(out.st_mode)) {
        *error = "cannot write " + path + ": it is a folder";
        return false;
    }
    for (const std::string& input : inputs) {
        struct stat in {};
        if (stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            *error = "will not write " + path + ": it is the input " + input + "; name another output file";
            return false;
        }
    }
    return true;
}

std::string makeTemporaryBeside(const std::string& path, const std::string& extension, std::string* error)
{
    const std::string folder = folderOf(path);
    const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::string pattern = folder + "/." + name + ".XXXXXX" + extension;
    const int fd = mkstemps(pattern.data(), int(extension.size()));
    if (fd < 0) {
        *error = "cannot make a temporary file in " + folder + ": " + std::strerror(errno);
        return "";
    }
    // Read by others like any file the user makes, not 0600 as mkstemps leaves it.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    return pattern;
}

bool moveIntoPlace(const std::string& temporary, const std::string& path, std::string* error)
{
    if (std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    *error = "cannot move the finished file to " + path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
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
    if (!openHeadlessContext(error)) return false;
    if (!createOffscreenTarget(width, height, error)) return false;
    return switchFragmentSource(FRAGMENT_SOURCE, width, height, error);
}

bool switchFragmentSource(const char* fragmentSource, int width, int height, std::string* error)
{
    return initRendererAtSize(headlessLookup, fragmentSource, width, height, error);
}

std::vector<uint8_t> renderImage(uint32_t positionMs, int width, int height)
{
    renderFrame(positionMs);
    return readPixelsRgb(width, height);
}
