#include "files/output_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <random>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
static constexpr const char* PATH_SEPARATORS = "/\\";
static constexpr long WINDOWS_NAME_MAX = 255; // characters in one file name
static constexpr const char* WINDOWS_NAME_FORBIDDEN = "<>:\"|?*";
#else
static constexpr const char* PATH_SEPARATORS = "/";
#endif
// Every temporary file is named ".vantrop-XXXXXX" and the extension, whatever
// the final name: a name as long as the folder allows must still find room
// for its temporary file.
static constexpr const char* TEMPORARY_STEM = ".vantrop-";

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

static std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// What the output checks ask of a path: stat() where there is one; the same
// file under any spelling (a link, "dir/../dir") by device and inode.
#ifdef _WIN32
static bool folderIsWritable(const std::string& folder)
{
    return _access(folder.c_str(), 2) == 0;
}

static long nameLimit(const std::string&)
{
    return WINDOWS_NAME_MAX;
}

static bool isFolder(const std::string& path)
{
    std::error_code failed;
    return std::filesystem::is_directory(path, failed);
}

bool pathExists(const std::string& path)
{
    std::error_code failed;
    return std::filesystem::exists(path, failed);
}

static bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code failed;
    return pathExists(a) && std::filesystem::equivalent(a, b, failed);
}
#else
static bool folderIsWritable(const std::string& folder)
{
    return access(folder.c_str(), W_OK) == 0;
}

static long nameLimit(const std::string& folder)
{
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? limit : NAME_MAX;
}

static bool isFolder(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool pathExists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
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
            std::strchr(PATH_SEPARATORS, lower[lower.size() - e.size() - 1]) == nullptr;
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
#ifdef _WIN32
    // Windows refuses these in a file name, and would say so only at the end, when the finished file is moved in.
    if (const std::string name = nameOf(path); name.find_first_of(WINDOWS_NAME_FORBIDDEN) != std::string::npos) {
        *error = "cannot write " + path + ": Windows allows none of " + WINDOWS_NAME_FORBIDDEN +
            " in a file name; choose another name";
        return false;
    }
#endif
    if (const long limit = nameLimit(folder); long(nameOf(path).size()) > limit) {
        *error = "cannot write " + path + ": its name is " + std::to_string(nameOf(path).size()) +
            " bytes long, and a file name in " + folder + " may have at most " + std::to_string(limit) +
            "; choose a shorter name";
        return false;
    }
    if (!folderIsWritable(folder)) {
        *error = "cannot write " + path + ": the folder " + folder + " is not writable (" + std::strerror(errno) + ")";
        return false;
    }
    if (!pathExists(path)) return true;
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
    std::string pattern = folder + "/" + TEMPORARY_STEM + "XXXXXX" + extension;
#ifdef _WIN32
    // No mkstemps: the Xs become random letters, and _O_EXCL makes sure the
    // name is new. (_mktemp_s ignores the extension: a second temporary of
    // the same extension got the first one's name every time.)
    static std::mt19937 generator(std::random_device{}() ^ uint32_t(GetTickCount()) ^ GetCurrentProcessId());
    static constexpr char LETTERS[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const size_t randomAt = pattern.size() - extension.size() - 6;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        for (size_t i = 0; i < 6; ++i) pattern[randomAt + i] = LETTERS[generator() % (sizeof LETTERS - 1)];
        if (_sopen_s(&fd, pattern.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO,
                     _S_IREAD | _S_IWRITE) != 0)
            fd = -1;
        if (fd < 0 && errno != EEXIST) break;
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

bool moveIntoPlaceIfNew(const std::string& temporary, const std::string& path, std::string* error)
{
#ifdef _WIN32
    if (MoveFileExA(temporary.c_str(), path.c_str(), 0)) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return false;
    *error = "cannot move the finished file to " + path + ": " + std::system_category().message(int(code));
#else
    // The rename itself refuses an existing name, so no other writer can slip in between a check and the move.
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    // A file system without that rename: a hard link refuses an existing name too.
    if (errno == EINVAL && link(temporary.c_str(), path.c_str()) == 0) {
        unlink(temporary.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    *error = "cannot move the finished file to " + path + ": " + std::strerror(errno);
#endif
    return false;
}

bool checkNameFree(const std::string& path, bool force, std::string* error)
{
    if (force || !pathExists(path)) return true;
    *error = path + " already exists; give --force to replace it, or name another file";
    return false;
}

bool finishOutput(const std::string& temporary, const std::string& path, bool force, std::string* error)
{
    if (force) return moveIntoPlace(temporary, path, error);
    if (moveIntoPlaceIfNew(temporary, path, error)) return true;
    std::remove(temporary.c_str());
    if (error->empty()) *error = path + " was made by another program meanwhile; it was kept, and nothing written";
    return false;
}

bool reserveName(const std::string& path, std::string* error)
{
#ifdef _WIN32
    int fd = -1;
    if (_sopen_s(&fd, path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0)
        fd = -1;
#else
    const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
        if (errno != EEXIST) *error = "cannot make " + path + ": " + std::strerror(errno);
        return false;
    }
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
    return true;
}

bool isReservation(const std::string& path)
{
    std::error_code failed;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, failed);
    return !failed && std::filesystem::is_regular_file(status) && std::filesystem::file_size(path, failed) == 0 &&
        !failed;
}

bool moveOntoReservation(const std::string& temporary, const std::string& path, std::string* error)
{
    // The empty file goes first, then the finished one takes the name only
    // if nobody else has taken it in between.
    if (isReservation(path)) std::remove(path.c_str());
    if (moveIntoPlaceIfNew(temporary, path, error)) return true;
    if (error->empty())
        *error = "another program wrote " + path + " while this one was being made; it was left as it is";
    std::remove(temporary.c_str());
    return false;
}

void releaseReservation(const std::string& path)
{
    if (isReservation(path)) std::remove(path.c_str());
}

std::string fileSizeText(const std::string& path)
{
    static constexpr double BYTES_PER_KB = 1e3, BYTES_PER_MB = 1e6;
    std::error_code error;
    const uintmax_t bytes = std::filesystem::file_size(path, error);
    if (error) return "";
    char text[32];
    if (bytes < BYTES_PER_MB)
        std::snprintf(text, sizeof text, "%.0f kB", double(bytes) / BYTES_PER_KB);
    else
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / BYTES_PER_MB);
    return text;
}
