// The shader folder: looked at, read, packed and rebuilt, the last good
// sources kept for every size.
#include "render/from_readable.h"
#include "studio/studio.h"
#include "timeline/schedule_file.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#ifdef _WIN32
// A FILETIME (100 ns steps since 1601) as nanoseconds since 1970, as the system clock counts.
static int64_t unixNs(const FILETIME& time)
{
    constexpr int64_t STEPS_FROM_1601_TO_1970 = 116444736000000000;
    return ((int64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime) - STEPS_FROM_1601_TO_1970) * 100;
}

FileStamp fileStamp(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) return {};
    return {unixNs(info.ftLastWriteTime), unixNs(info.ftCreationTime),
            int64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow, 0, uint32_t(info.dwFileAttributes)};
}
#else
FileStamp fileStamp(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return {};
    return {info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec,
            info.st_ctim.tv_sec * 1000000000 + info.st_ctim.tv_nsec, int64_t(info.st_size), uint64_t(info.st_ino),
            uint32_t(info.st_mode)};
}
#endif

std::vector<FileStamp> fileStamps(const ShaderFiles& files)
{
    std::vector<std::string> paths = files.functions;
    paths.push_back(files.vertex);
    paths.push_back(files.main);
    std::vector<FileStamp> stamps;
    for (const std::string& path : paths) stamps.push_back(fileStamp(path));
    return stamps;
}

bool buildShader(Studio& s, const ShaderSources& sources, const int64_t* framePositionMs)
{
    std::string error;
    if (!useReadablePrograms(*s.readable, *s.renderer, sources, s.schedule, s.drawWidth, s.drawHeight, &error,
                             framePositionMs)) {
        say(s,
            (s.haveProgram ? "the shader did not build; drawing the last good one: " : "the shader did not build: ") +
                error);
        s.shaderFailed = true;
        return false;
    }
    s.haveProgram = true;
    // Only sources read from the files end a failed edit: the last good ones
    // packed again (for a new size or schedule) leave the files as broken as they were.
    if (&sources != &s.good) {
        s.good = sources;
        s.shaderFailed = false;
    }
    refreshTracks(s);
    return true;
}

bool reloadShader(Studio& s, const int64_t* framePositionMs)
{
    ShaderSources sources;
    std::string error;
    if (!readShaderSources(s.files, sources, &error)) {
        say(s, (s.haveProgram ? "the shader was not rebuilt; drawing the last good one: " : "") + error);
        s.shaderFailed = true;
        return false;
    }
    const ShaderSources before = s.good;
    if (!buildShader(s, sources, framePositionMs)) return false;
    if (framePositionMs && s.haveProgram) {
        s.lastGood = before;
        s.restToBuild = true;
    }
    return true;
}

bool finishShader(Studio& s)
{
    if (!s.restToBuild) return false;
    s.restToBuild = false;
    std::string error;
    if (finishReadablePrograms(*s.readable, *s.renderer, &error)) return false;
    // The edit broke a part that the frame on screen does not draw: the last good shader again, whole.
    say(s, "the shader did not build; drawing the last good one: " + error);
    buildShader(s, s.lastGood);
    s.shaderFailed = true;
    return true;
}

bool reloadSchedule(Studio& s, const std::string& path, uint32_t positionMs)
{
    ScheduleValues values;
    std::string error;
    if (!readScheduleFile(path, values, &error)) {
        say(s, "the schedule was not changed; the last good one times the show: " + error);
        s.scheduleFailed = true;
        return false;
    }
    const ScheduleValues before = s.schedule;
    s.schedule = values;
    // The shader has the schedule's values written in: the last good sources,
    // packed again. Every program of theirs has built before, so only the one
    // on screen is built now and the picture changes sooner; the others are
    // built when a frame first needs them.
    const int64_t frame = positionMs;
    if (!buildShader(s, s.good, &frame)) {
        s.schedule = before;
        return false;
    }
    s.scheduleFailed = false;
    return true;
}

// Copies the installed shaders into a new folder at `copy`, whole or not at
// all: into a hidden folder beside it first, then renamed (never over a
// folder that appeared meanwhile). False with *error.
static bool copyShaders(const std::string& installed, const std::string& copy, std::string* error)
{
    namespace fs = std::filesystem;
    std::error_code failed;
    const fs::path target(copy), staging = target.parent_path() / (".shaders-" + std::to_string(nowMs()));
    fs::create_directories(staging, failed);
    const ShaderFiles files = shaderFilesIn(installed);
    std::vector<std::string> paths = files.functions;
    paths.push_back(files.vertex);
    paths.push_back(files.main);
    for (const std::string& path : paths)
        if (!failed) fs::copy_file(path, staging / fs::path(path).filename(), failed);
    if (!failed) fs::rename(staging, target, failed);
    if (!failed) return true;
    fs::remove_all(staging);
    *error = "cannot copy the installed shaders to " + copy + " (" + failed.message() + ")";
    return false;
}

std::string editableShaderFolder(const std::string& folder, std::string* said)
{
    const std::string data = musicDataFolder();
    if (data.empty() || folder != installedShaderFolder()) return folder;
    const std::string copy = data + "/shaders";
    std::error_code failed;
    if (std::filesystem::exists(copy, failed)) {
        *said = "editing your copy of the shaders in " + copy + " (give --shaders DIR to edit another folder)";
        return copy;
    }
    std::string error;
    std::filesystem::create_directories(data, failed);
    if (!copyShaders(folder, copy, &error) && !std::filesystem::exists(copy, failed)) {
        *said = error + "; the installed ones draw, but no edit of them can be saved";
        return folder;
    }
    *said = "the installed shaders cannot be edited in place: copied them to " + copy +
        ", which the studio edits from now on (give --shaders DIR to edit another folder)";
    return copy;
}
