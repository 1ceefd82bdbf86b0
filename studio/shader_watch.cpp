// The shader folder: looked at, read, packed and rebuilt, the last good
// sources kept for every size.
#include "render/renderer.h"
#include "studio/studio.h"

#include <sys/stat.h>

#include <cstdlib>
#include <set>

std::vector<FileStamp> fileStamps(const ShaderFiles& files)
{
    std::vector<std::string> paths = files.functions;
    paths.push_back(files.vertex);
    paths.push_back(files.main);
    std::vector<FileStamp> stamps;
    for (const std::string& path : paths) {
        struct stat info {};
        FileStamp stamp;
        if (stat(path.c_str(), &info) == 0)
            stamp = {info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec,
                     info.st_ctim.tv_sec * 1000000000 + info.st_ctim.tv_nsec, int64_t(info.st_size),
                     uint64_t(info.st_ino), uint32_t(info.st_mode)};
        stamps.push_back(stamp);
    }
    return stamps;
}

// The driver's log with each "0:1(COLUMN)" of the packed single line turned
// into the readable file and line it came from.
static std::string readableLog(const PackedShaders& packed, const std::string& log, bool vertex)
{
    std::string out;
    size_t at = 0;
    while (at < log.size()) {
        const size_t marker = log.find("0:1(", at);
        if (marker == std::string::npos) break;
        const size_t close = log.find(')', marker);
        if (close == std::string::npos) break;
        out += log.substr(at, marker - at);
        const size_t column = size_t(std::strtoul(log.c_str() + marker + 4, nullptr, 10));
        const std::string where = readableLocation(packed, column > 0 ? column - 1 : 0, vertex);
        out += where.empty() ? log.substr(marker, close + 1 - marker) : where;
        at = close + 1;
    }
    return out + log.substr(at);
}

static void* lookup(const char* name)
{
    return SDL_GL_GetProcAddress(name);
}

bool buildShader(Studio& s, const ShaderSources& sources)
{
    PackedShaders packed;
    std::string error;
    std::set<std::string> all;
    for (const std::string& name : optimisationNames()) all.insert(name);
    bool built = packShaders(sources, all, s.drawWidth, s.drawHeight, false, packed, &error);
    if (built) {
        const char* programs[PROGRAM_VARIANTS];
        for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) programs[mask] = packed.specialised[mask].c_str();
        built = initRendererFromSources(lookup, packed.vertex.c_str(), programs, &error);
        // The driver's log is about the user's edit, not the driver: keep the log alone.
        if (const size_t log = error.find(":\n"); !built && log != std::string::npos)
            error = readableLog(packed, error.substr(log + 2), error.find("vertex shader") < log);
    }
    if (!built) {
        say(s,
            (s.haveProgram ? "the shader did not build; drawing the last good one: " : "the shader did not build: ") +
                error);
        return false;
    }
    s.haveProgram = true;
    if (&sources != &s.good) s.good = sources;
    return true;
}

bool reloadShader(Studio& s)
{
    ShaderSources sources;
    std::string error;
    if (!readShaderSources(s.files, sources, &error)) {
        say(s, (s.haveProgram ? "the shader was not rebuilt; drawing the last good one: " : "") + error);
        return false;
    }
    return buildShader(s, sources);
}
