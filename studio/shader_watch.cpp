// The shader folder: looked at, read, packed and rebuilt, the last good
// sources kept for every size.
#include "render/from_readable.h"
#include "studio/studio.h"

#include <sys/stat.h>

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

static void* lookup(const char* name)
{
    return SDL_GL_GetProcAddress(name);
}

bool buildShader(Studio& s, const ShaderSources& sources)
{
    std::string error;
    if (!initRendererFromReadable(lookup, sources, s.drawWidth, s.drawHeight, &error)) {
        say(s,
            (s.haveProgram ? "the shader did not build; drawing the last good one: " : "the shader did not build: ") +
                error);
        s.shaderFailed = true;
        return false;
    }
    s.haveProgram = true;
    s.shaderFailed = false;
    if (&sources != &s.good) s.good = sources;
    return true;
}

bool reloadShader(Studio& s)
{
    ShaderSources sources;
    std::string error;
    if (!readShaderSources(s.files, sources, &error)) {
        say(s, (s.haveProgram ? "the shader was not rebuilt; drawing the last good one: " : "") + error);
        s.shaderFailed = true;
        return false;
    }
    return buildShader(s, sources);
}
