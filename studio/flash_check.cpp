// The studio's photosensitivity check (F): the loop, or the whole show, as
// the studio draws it now, measured by vantrop-render flashes, a child
// process, while the window goes on; the failing stretches it finds are
// marked on the strip.
#include "files/output_file.h"
#include "studio/studio.h"

#include <cstdio>
#include <fstream>

// The size the check draws at: the rule is scaled to the picture.
static constexpr const char* CHECK_SIZE = "320x180";

bool flashCheckRunning(const Studio& s)
{
    return s.flashCheck.child.process != 0;
}

void startFlashCheck(Studio& s, const Transport& t, const StudioOptions& o)
{
    StudioFlashCheck& c = s.flashCheck;
    if (flashCheckRunning(s)) {
        say(s, "the flash check is already running (" + std::to_string(c.percent) + "%); wait for it to end");
        return;
    }
    if (s.shaderFailed || s.scheduleFailed || s.edits.tracksFailed) {
        say(s, "not checked: the last edit does not build or read (the check draws it as it is); fix it first");
        return;
    }
    std::string error;
    c.marks = makeTemporaryBeside("vantrop-flashes.txt", ".txt", &error);
    if (c.marks.empty()) {
        say(s, "not checked: " + error);
        return;
    }
    c.fromMs = t.looping ? t.loopInMs : 0;
    c.toMs = t.looping ? t.loopOutMs : t.lengthMs;
    std::vector<std::string> args = {renderProgram(), "flashes",
                                     "--from",        std::to_string(c.fromMs),
                                     "--to",          std::to_string(c.toMs),
                                     "--size",        CHECK_SIZE,
                                     "--marks",       c.marks,
                                     "--force",       "--shaders",
                                     o.shaders};
    if (!o.schedule.empty()) args.insert(args.end(), {"--schedule", o.schedule});
    if (!o.tracks.empty()) args.insert(args.end(), {"--tracks", o.tracks});
    if (!startChild(c.child, args, CHILD_INPUT | CHILD_ERRORS, &error)) {
        std::remove(c.marks.c_str());
        say(s, "not checked: " + error);
        return;
    }
    c.percent = 0;
    c.pending.clear();
    c.lastLine.clear();
    c.failing.clear();
    say(s, "checking the flashes from " + std::to_string(c.fromMs) + " to " + std::to_string(c.toMs) + " ms");
}

bool pollFlashCheck(Studio& s)
{
    StudioFlashCheck& c = s.flashCheck;
    if (!flashCheckRunning(s)) return false;
    ChildEnd end;
    const bool ended = childEnded(c.child, end, c.pending);
    if (!ended) readFromChild(c.child, c.pending);
    const bool changed = takeProgressLines(c.pending, "vantrop-render flashes: ", c.percent, c.lastLine);
    if (!ended) return changed;
    std::ifstream in(c.marks);
    for (uint32_t from = 0, to = 0; in >> from >> to;) c.failing.emplace_back(from, to);
    std::remove(c.marks.c_str());
    // The summary goes to standard output, which the studio does not read: the marks say it.
    if (end.signal == 0 && (end.status == 0 || end.status == 3))
        say(s,
            c.failing.empty() ? "flash check: passes (no second over the general or red flash threshold)"
                              : "flash check: FAILS in " + std::to_string(c.failing.size()) +
                    (c.failing.size() == 1 ? " stretch" : " stretches") +
                    ", marked red on the strip (vantrop-render flashes gives the figures)");
    else
        say(s, "the flash check failed: " + (c.lastLine.empty() ? "no word why" : c.lastLine));
    return true;
}

void stopFlashCheck(Studio& s)
{
    StudioFlashCheck& c = s.flashCheck;
    if (!flashCheckRunning(s)) return;
    interruptChild(c.child, c.pending);
    std::remove(c.marks.c_str());
}
