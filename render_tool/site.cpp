#include "render_tool/site.h"

#include "cli/command_line.h"
#include "files/output_file.h"
#include "render_tool/offline.h"
#include "timeline/schedule_file.h"
#include "timeline/track_file.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

// The page's files, which the site must hold.
static const char* const TEMPLATE_FILES[] = {"index.html", "page.js",    "player.js",
                                             "style.css",  "vantrop.js", "vantrop.wasm"};
// The line of index.html that says what the site holds beside the page.
static const std::string SHOW_MARKER = "<meta name=\"vantrop-show\" content=\"\">";
// The longest line the build tree's marker holds: a folder's path.
static constexpr size_t MARKER_MAX_BYTES = 4096;

// The web page to publish with: share/vantrop/web beside the program's
// folder (installed), else the web build a build tree names in its marker;
// "" with *looked naming where it looked.
static std::string templateFolder(std::string* looked)
{
    const std::string program = programFolder();
    const std::string installed = fs::path(program + "/" + VANTROP_WEB_FROM_PROGRAM).lexically_normal().string();
    *looked = installed;
    std::error_code failed;
    if (fs::is_regular_file(installed + "/vantrop.wasm", failed)) return installed;
    for (const char* up : {"/", "/../"}) {
        std::ifstream marker(program + up + VANTROP_WEB_SITE_MARKER);
        std::string folder;
        if (marker && std::getline(marker, folder) && !folder.empty() && folder.size() < MARKER_MAX_BYTES) {
            *looked += " and " + folder;
            if (fs::is_regular_file(folder + "/vantrop.wasm", failed)) return folder;
        }
    }
    return "";
}

static bool writeText(const fs::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    return bool(out);
}

// The site's files in `staging`: the page (its index.html saying what it
// holds), the readable shaders, the schedule, the tracks and the music.
static bool writeSite(const fs::path& staging, const std::string& from, const Offline& o, const std::string& music,
                      std::string* error)
{
    std::error_code failed;
    std::string holds = "shaders";
    for (const char* file : TEMPLATE_FILES)
        if (!failed && std::string(file) != "index.html") fs::copy_file(fs::path(from) / file, staging / file, failed);
    if (!failed) fs::create_directory(staging / "shaders", failed);
    const ShaderFiles& files = o.folderSources.files;
    std::vector<std::string> shaders = files.functions;
    shaders.insert(shaders.end(), {files.vertex, files.main});
    for (const std::string& path : shaders)
        if (!failed) fs::copy_file(path, staging / "shaders" / fs::path(path).filename(), failed);
    if (!failed && o.scheduleGiven) {
        holds += " schedule";
        if (!writeText(staging / "schedule.txt", scheduleText(o.schedule)))
            failed = std::make_error_code(std::errc::io_error);
    }
    if (!failed && o.tracksGiven) {
        holds += " tracks";
        if (!writeText(staging / "tracks.txt", tracksText(o.tracks)))
            failed = std::make_error_code(std::errc::io_error);
    }
    if (!failed && !music.empty()) {
        holds += " music=" + fs::path(music).filename().string();
        fs::copy_file(music, staging / fs::path(music).filename(), failed);
    }
    std::ifstream in(fs::path(from) / "index.html");
    std::stringstream page;
    page << in.rdbuf();
    std::string index = page.str();
    const size_t marker = index.find(SHOW_MARKER);
    if (!failed && (marker == std::string::npos || !in)) {
        *error = "the web page in " + from + " is not one this program publishes with (reinstall vantrop)";
        return false;
    }
    if (!failed) index.replace(marker, SHOW_MARKER.size(), "<meta name=\"vantrop-show\" content=\"" + holds + "\">");
    if (!failed && !writeText(staging / "index.html", index)) failed = std::make_error_code(std::errc::io_error);
    if (failed) *error = "cannot write the site beside its folder: " + failed.message();
    return !failed;
}

// The folder's size in bytes and its files.
static uintmax_t folderSize(const fs::path& folder, int& files)
{
    uintmax_t bytes = 0;
    std::error_code failed;
    for (const auto& entry : fs::recursive_directory_iterator(folder, failed))
        if (entry.is_regular_file(failed)) bytes += entry.file_size(failed), ++files;
    return bytes;
}

int runSite(int argc, char** argv)
{
    std::string out, music;
    DrawingSources sources;
    const CommandLine line{
        "vantrop-render site",
        "--out DIR [--shaders DIR] [--schedule FILE] [--tracks FILE] [--music FILE]",
        "Publishes the show as a static web site in DIR, a new folder (or an empty\n"
        "one): the web page with the readable shaders (those of --shaders, else the\n"
        "installed ones), the schedule and track files and the music beside it, which\n"
        "the page reads when it loads. Any web server that serves files serves it;\n"
        "copy the folder to one. Everything is checked before anything is written: a\n"
        "file that is not sound, or shaders that do not build, end the command with\n"
        "exit status 2 and no folder.\n",
        {required(textOption("--out", "DIR", &out, "the site's folder: new, or empty")),
         shadersOption(&sources.shaders), scheduleOption(&sources.schedule), tracksOption(&sources.tracks),
         textOption("--music", "FILE", &music, "the music the page plays (without it: lomu_hmm.mp3 beside the page)")},
        "",
        ""};
    Offline o;
    if (const int status = parseDrawingCommand(line, argc, argv, sources, o); status >= 0) return status;
    std::string error, looked;
    Tracks declared;
    std::error_code failed;
    const std::string from = templateFolder(&looked);
    if (from.empty())
        return usageError(line.command,
                          "the web page to publish with is not installed (looked in " + looked +
                              "); install vantrop, or build the web site (cmake --preset web)");
    if (!declaredShaderTracks(o, declared, &error)) return usageError(line.command, error);
    if (!music.empty() && !fs::is_regular_file(music, failed))
        return usageError(line.command, "the music " + music + " is not a file (give a sound file with --music)");
    if (fs::exists(out, failed) && !(fs::is_directory(out, failed) && fs::is_empty(out, failed)))
        return usageError(line.command, out + " exists and is not an empty folder; give a new folder's name");
    // The shaders as a program of this machine's driver draws them: a mistake is named by file and line.
    if (!openOfflineRendererForFrame(o, 16, 9, 0, &error)) {
        closeOffline(o);
        return usageError(line.command, error);
    }
    closeOffline(o);
    fs::path target = fs::absolute(out, failed).lexically_normal();
    if (target.filename().empty()) target = target.parent_path(); // "my-show/"
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += '-';
    hidden += std::to_string(stamp);
    const fs::path staging = target.parent_path() / hidden;
    fs::create_directory(staging, failed);
    if (failed || !writeSite(staging, from, o, music, &error)) {
        if (error.empty())
            error = "cannot make the site beside " + out + ": " + failed.message() + " (is its folder there?)";
        fs::remove_all(staging, failed);
        std::fprintf(stderr, "%s: %s\n", line.command, error.c_str());
        return EXIT_FAILED;
    }
    // Onto an empty folder only: a folder filled meanwhile is never replaced
    // (POSIX renames onto an empty folder alone; Windows onto none, so the
    // empty one goes first there).
    fs::rename(staging, target, failed);
    if (failed && fs::is_directory(target) && fs::is_empty(target)) {
        failed.clear();
        fs::remove(target, failed);
        if (!failed) fs::rename(staging, target, failed);
    }
    if (failed) {
        const std::string why = failed.message();
        fs::remove_all(staging, failed);
        std::fprintf(stderr, "%s: cannot name the site %s: %s\n", line.command, out.c_str(), why.c_str());
        return EXIT_FAILED;
    }
    int files = 0;
    const uintmax_t bytes = folderSize(target, files);
    std::printf(
        "%s: wrote %s (%d files, %.1f MB); try it with: python3 -m http.server -d %s, then open "
        "http://localhost:8000/\n",
        line.command, out.c_str(), files, double(bytes) / 1e6, out.c_str());
    return EXIT_DONE;
}
