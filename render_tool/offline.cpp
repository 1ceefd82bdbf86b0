#include "render_tool/offline.h"

#include "image/png_file.h"
#include "render/headless.h"
#include "render/renderer.h"
#include "shaders/shader_sources.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <filesystem>
#include <system_error>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

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

#ifdef _WIN32
static constexpr const char* PATH_SEPARATORS = "/\\";
#else
static constexpr const char* PATH_SEPARATORS = "/";
#endif

static std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of(PATH_SEPARATORS);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

static std::string nameOf(const std::string& path)
{
    const size_t slash = path.find_last_of(PATH_SEPARATORS);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

static bool folderIsWritable(const std::string& folder)
{
#ifdef _WIN32
    return _access(folder.c_str(), 2) == 0;
#else
    return access(folder.c_str(), W_OK) == 0;
#endif
}

bool stderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr));
#else
    return isatty(STDERR_FILENO);
#endif
}

static std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// What the output checks ask of a path: stat() where there is one; the same
// file under any spelling (a link, "dir/../dir") by device and inode.
#ifdef _WIN32
static bool isFolder(const std::string& path)
{
    std::error_code failed;
    return std::filesystem::is_directory(path, failed);
}

static bool exists(const std::string& path)
{
    std::error_code failed;
    return std::filesystem::exists(path, failed);
}

static bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code failed;
    return exists(a) && std::filesystem::equivalent(a, b, failed);
}
#else
static bool isFolder(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

static bool exists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

static bool sameFile(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
        first.st_ino == second.st_ino;
}
#endif

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
    if (!isFolder(folder)) {
        *error = "cannot write " + path + ": the folder " + folder + " does not exist";
        return false;
    }
    if (!folderIsWritable(folder)) {
        *error = "cannot write " + path + ": the folder " + folder + " is not writable (" + std::strerror(errno) + ")";
        return false;
    }
    if (!exists(path)) return true;
    if (isFolder(path)) {
        *error = "cannot write " + path + ": it is a folder";
        return false;
    }
    for (const std::string& input : inputs) {
        if (sameFile(input, path)) {
            *error = "will not write " + path + ": it is the input " + input + "; name another output file";
            return false;
        }
    }
    return true;
}

std::string makeTemporaryBeside(const std::string& path, const std::string& extension, std::string* error)
{
    const std::string folder = folderOf(path);
    std::string pattern = folder + "/." + nameOf(path) + ".XXXXXX" + extension;
#ifdef _WIN32
    // No mkstemps: _mktemp_s fills in the Xs, and _O_EXCL makes sure the name is new.
    const std::string base = pattern.substr(0, pattern.size() - extension.size());
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        std::string name = base;
        if (_mktemp_s(name.data(), name.size() + 1) != 0) break;
        pattern = name + extension;
        if (_sopen_s(&fd, pattern.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO,
                     _S_IREAD | _S_IWRITE) != 0)
            fd = -1;
    }
    if (fd < 0) {
        *error = "cannot make a temporary file in " + folder + ": " + std::strerror(errno);
        return "";
    }
    _close(fd);
#else
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
#endif
    return pattern;
}

bool moveIntoPlace(const std::string& temporary, const std::string& path, std::string* error)
{
#ifdef _WIN32
    // Plain rename() refuses to replace an existing file on Windows.
    if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    *error = "cannot move the finished file to " + path + ": " + std::system_category().message(int(GetLastError()));
#else
    if (std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    *error = "cannot move the finished file to " + path + ": " + std::strerror(errno);
#endif
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
