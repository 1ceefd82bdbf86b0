// The studio's export (E): the loop, or the whole show, written as a video
// by vantrop-render, a child process that draws with the studio's music and
// shader folder while the window goes on; its progress lines are read as
// they come.
#include "cli/command_line.h"
#include "files/output_file.h"
#include "studio/studio.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

// The video's width is a multiple of this, so that its 16:9 height is whole and even (H.264 needs both).
static constexpr int EXPORT_WIDTH_STEP = 32;
static constexpr const char* RENDER_PROGRAM = "vantrop-render";

std::string renderProgram()
{
    const std::string folder = programFolder();
    return (folder.empty() ? std::string() : folder + "/") + RENDER_PROGRAM + PROGRAM_SUFFIX;
}

// Exports of one stretch get numbered names, up to this one.
static constexpr int MAX_EXPORT_NUMBER = 999;

// "vantrop-studio-FROM-TO.mp4" in the working folder, or -2, -3 ... after it
// when that is taken, held at once as an empty file, so that another studio
// exporting the same stretch takes the next name; "" with *error when none can be held.
static std::string reserveVideoName(uint32_t fromMs, uint32_t toMs, std::string* error)
{
    const std::string stem = "vantrop-studio-" + std::to_string(fromMs) + "-" + std::to_string(toMs);
    for (int number = 1; number <= MAX_EXPORT_NUMBER && error->empty(); ++number) {
        std::string name = stem;
        if (number > 1) name += '-' + std::to_string(number);
        name += ".mp4";
        if (reserveName(name, error)) return name;
    }
    if (error->empty())
        *error = "there are " + std::to_string(MAX_EXPORT_NUMBER) + " exports of " + stem + " already; move some away";
    return "";
}

bool exportRunning(const Studio& s)
{
    return s.exporting.child.process != 0;
}

void startExport(Studio& s, const Transport& t, const StudioOptions& o)
{
    StudioExport& e = s.exporting;
    if (exportRunning(s)) {
        say(s,
            "an export is already running (" + std::to_string(e.percent) + "% of " + e.file + "); wait for it to end");
        return;
    }
    if (s.shaderFailed) {
        say(s, "not exported: the shader files do not build (the export draws them as they are); fix the edit first");
        return;
    }
    if (s.edits.tracksFailed) {
        say(s, "not exported: the track file is broken (the export reads it as it is); fix the edit first");
        return;
    }
    if (s.scheduleFailed) {
        say(s, "not exported: the schedule file is broken (the export reads it as it is); fix the edit first");
        return;
    }
    const uint32_t from = t.looping ? t.loopInMs : 0, to = t.looping ? t.loopOutMs : t.lengthMs;
    const ViewBox box = windowPictureBox(s.window);
    const int width = std::max(box.width / EXPORT_WIDTH_STEP, 1) * EXPORT_WIDTH_STEP,
              height = width * ASPECT_H / ASPECT_W;
    std::string error;
    e.file = reserveVideoName(from, to, &error);
    if (e.file.empty()) {
        say(s, "not exported: " + error);
        return;
    }
    std::vector<std::string> args = {renderProgram(), "video",
                                     "--out",         e.file,
                                     "--from",        std::to_string(from),
                                     "--to",          std::to_string(to),
                                     "--size",        std::to_string(width) + "x" + std::to_string(height),
                                     "--shaders",     o.shaders};
    if (!o.music.empty()) args.insert(args.end(), {"--music", o.music});
    // Its input is a pipe that only closes when the studio asks it to stop (or ends).
    args.insert(args.end(), {"--stop-when-input-ends", "--reserved"});
    if (!o.schedule.empty()) args.insert(args.end(), {"--schedule", o.schedule});
    if (!o.tracks.empty()) args.insert(args.end(), {"--tracks", o.tracks});
    if (!startChild(e.child, args, CHILD_INPUT | CHILD_ERRORS, &error)) {
        releaseReservation(e.file);
        say(s, "not exported: " + error);
        return;
    }
    e.percent = 0;
    e.pending.clear();
    e.lastLine.clear();
    say(s,
        "exporting " + e.file + " (" + std::to_string(width) + "x" + std::to_string(height) + ", " +
            std::to_string(from) + " to " + std::to_string(to) + " ms)");
}

bool takeProgressLines(std::string& pending, const std::string& prefix, int& percent, std::string& lastLine)
{
    bool changed = false;
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
        int share = 0;
        if (std::sscanf(line.c_str(), "%d%%", &share) == 1)
            percent = share;
        else if (!line.empty())
            lastLine = line;
        changed = true;
    }
    return changed;
}

// Takes the whole lines in what the export has written: its share done, and its last word.
static bool takeExportLines(StudioExport& e)
{
    return takeProgressLines(e.pending, "vantrop-render video: ", e.percent, e.lastLine);
}

bool pollExport(Studio& s)
{
    StudioExport& e = s.exporting;
    if (!exportRunning(s)) return false;
    ChildEnd end;
    const bool ended = childEnded(e.child, end, e.pending);
    if (!ended) readFromChild(e.child, e.pending);
    const bool changed = takeExportLines(e);
    if (!ended) return changed;
    if (end.status == 0 && end.signal == 0)
        say(s, "exported: " + e.lastLine);
    else
        say(s, "the export of " + e.file + " failed: " + (e.lastLine.empty() ? "no word why" : e.lastLine));
    // A video that was never written leaves its name free again.
    releaseReservation(e.file);
    return true;
}

void stopExport(Studio& s)
{
    StudioExport& e = s.exporting;
    if (!exportRunning(s)) return;
    // As Ctrl+C would: the export keeps a playable file of what it has drawn.
    interruptChild(e.child, e.pending);
    takeExportLines(e);
    releaseReservation(e.file);
    std::fprintf(stderr, "vantrop-studio: the export was stopped as the studio closed: %s\n", e.lastLine.c_str());
}

void publishSite(Studio& s, const StudioOptions& o)
{
    if (s.shaderFailed || s.scheduleFailed || s.edits.tracksFailed) {
        say(s, "not published: the last edit does not build or read (the site would hold it); fix it first");
        return;
    }
    // The folder's name is held by making it: an empty folder is what the site command writes into.
    std::string folder;
    std::error_code failed;
    for (int n = 1; folder.empty() && n <= MAX_EXPORT_NUMBER; ++n) {
        std::string name = "vantrop-site-";
        name += std::to_string(n);
        if (std::filesystem::create_directory(name, failed)) folder = name;
    }
    if (folder.empty()) {
        say(s, "not published: no vantrop-site-N folder could be made here (" + failed.message() + ")");
        return;
    }
    std::vector<std::string> args = {renderProgram(), "site", "--out", folder, "--shaders", o.shaders};
    if (!o.schedule.empty()) args.insert(args.end(), {"--schedule", o.schedule});
    if (!o.tracks.empty()) args.insert(args.end(), {"--tracks", o.tracks});
    if (!o.music.empty()) args.insert(args.end(), {"--music", o.music});
    Child child;
    std::string error, said;
    if (!startChild(child, args, CHILD_ERRORS, &error)) {
        std::filesystem::remove(folder, failed);
        say(s, "not published: " + error);
        return;
    }
    const ChildEnd end = waitForChild(child, said);
    while (!said.empty() && said.back() == '\n') said.pop_back();
    if (const std::string why = describeChildEnd("vantrop-render site", end, said.substr(said.rfind('\n') + 1));
        !why.empty()) {
        std::filesystem::remove(folder, failed);
        say(s, "not published: " + why);
        return;
    }
    say(s, "published the edit to " + folder + "/ (try it: python3 -m http.server -d " + folder + ")");
}
