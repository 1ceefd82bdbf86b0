// The readable shader files: where they are, and reading them safely.
#include "shaders/pack.h"

#include "shaders/file_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

// Opened without blocking, so that a FIFO or a device is refused, not waited on.
bool readShaderFile(const std::string& path, std::string& text, std::string* error)
{
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
#else
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
#endif
    if (fd < 0) {
        *error = "cannot read the shader file " + path + ": " + std::strerror(errno) +
            (errno == EACCES       ? " (make it readable)"
                 : errno == ENOENT ? " (put it back, or check --shaders)"
                                   : "");
        return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        *error = "cannot read the shader file " + path +
            ": it is not a regular file (a folder, FIFO or device); name a GLSL file";
        ok = false;
    }
    text.clear();
    char chunk[65536];
    while (ok) {
        const auto got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = "cannot read the shader file " + path + ": " + std::strerror(errno);
            ok = false;
        } else if (got == 0) {
            break;
        } else if (text.size() + size_t(got) > size_t(SHADER_FILE_MAX_BYTES)) {
            *error = "the shader file " + path + " is larger than " + std::to_string(SHADER_FILE_MAX_BYTES / 1024) +
                " KiB, more than a shader file may hold; is it the right file?";
            ok = false;
        } else {
            text.append(chunk, size_t(got));
        }
    }
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
    return ok;
}

bool readShaderSources(const ShaderFiles& files, ShaderSources& out, std::string* error)
{
    out = ShaderSources{files, {}, {}, std::vector<std::string>(files.functions.size())};
    if (!readShaderFile(files.vertex, out.vertex, error) || !readShaderFile(files.main, out.main, error)) return false;
    for (size_t i = 0; i < files.functions.size(); ++i)
        if (!readShaderFile(files.functions[i], out.functions[i], error)) return false;
    return true;
}

ShaderFiles shaderFilesIn(const std::string& folder)
{
    ShaderFiles files;
    files.vertex = folder + "/" + VERTEX_FILE_NAME;
    files.main = folder + "/" + MAIN_FILE_NAME;
    for (const char* name : FUNCTION_FILE_NAMES) files.functions.push_back(folder + "/" + name);
    return files;
}

bool isReadableShaderPart(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const ShaderFiles files = shaderFilesIn(folder);
    bool part = name == VERTEX_FILE_NAME || name == MAIN_FILE_NAME;
    for (const char* function : FUNCTION_FILE_NAMES) part = part || name == function;
    struct stat info {};
    return part && stat(files.main.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
