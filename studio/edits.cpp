// What the mouse and the edit keys change: the tracks' keys and the
// sections' starts, saved at once to their files (a temporary file moved
// into place; a new name, never a file that was there, when none was
// given), undone and redone.
#include "files/output_file.h"
#include "shaders/track_uniforms.h"
#include "studio/studio.h"
#include "timeline/schedule_file.h"
#include "timeline/track_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

// The names a file the studio makes takes: STEM.txt, then STEM-2.txt up to STEM-999.txt.
static constexpr int MOST_NAMES = 999;

// The tracks the sources declare, without keys; empty when they declare none or wrongly (the build says why).
static Tracks declaredIn(const ShaderSources& sources)
{
    Tracks declared;
    std::string error;
    if (!declaredTracks(sources, declared, &error)) declared.clear();
    return declared;
}

// Every track with keys gets a lane (kept in the order they had).
static void addLanesForKeys(StudioEdits& d)
{
    for (const Track& track : d.tracks)
        if (!track.keys.empty() && std::find(d.lanes.begin(), d.lanes.end(), track.name) == d.lanes.end())
            d.lanes.push_back(track.name);
}

bool loadTracks(Studio& s, const std::string& path, std::string* error)
{
    ShaderSources sources;
    std::string unread;
    const Tracks declared = readShaderSources(s.files, sources, &unread) ? declaredIn(sources) : Tracks{};
    s.edits.tracks = declared;
    if (!path.empty() && !readTrackFile(path, declared, s.edits.tracks, error)) return false;
    s.edits.trackStamp = fileStamp(path);
    addLanesForKeys(s.edits);
    return true;
}

void refreshTracks(Studio& s)
{
    StudioEdits& d = s.edits;
    Tracks now = declaredIn(s.good);
    for (Track& track : now)
        if (const int was = trackIndex(d.tracks, track.name); was >= 0) track.keys = d.tracks[size_t(was)].keys;
    // The selected key stays selected where its track is still declared (a
    // rebuild for a new picture size declares the very same tracks).
    const std::string selected = d.track >= 0 ? d.tracks[size_t(d.track)].name : "";
    d.tracks = std::move(now);
    std::erase_if(d.lanes, [&](const std::string& name) { return trackIndex(d.tracks, name) < 0; });
    d.track = trackIndex(d.tracks, selected);
    if (d.track < 0 || d.key >= int(d.tracks[size_t(d.track)].keys.size())) {
        d.track = d.key = -1;
        if (d.drag == EditDrag::Key) d.drag = EditDrag::None;
    }
    setRendererTracks(*s.renderer, d.tracks);
}

// Reads the track file again after an edit outside the studio; a broken
// file keeps the last good keys and says where it is wrong.
static bool reloadTracks(Studio& s, const std::string& path)
{
    StudioEdits& d = s.edits;
    Tracks declared = d.tracks, read;
    for (Track& track : declared) track.keys.clear();
    std::string error;
    if (!readTrackFile(path, declared, read, &error)) {
        say(s, "the tracks were not changed; the last good keys play: " + error);
        d.tracksFailed = true;
        return false;
    }
    d.tracks = std::move(read);
    d.tracksFailed = false;
    d.track = d.key = -1;
    addLanesForKeys(d);
    setRendererTracks(*s.renderer, d.tracks);
    return true;
}

bool watchTracks(Studio& s, const std::string& path)
{
    const FileStamp stamp = fileStamp(path);
    if (path.empty() || stamp == s.edits.trackStamp) return false;
    s.edits.trackStamp = stamp;
    if (reloadTracks(s, path)) {
        s.reloadSavedAtNs = std::max(stamp.modifiedNs, stamp.changedNs);
        s.reloaded = "track file";
    }
    return true;
}

void beginEdit(Studio& s)
{
    s.edits.before = EditState{s.edits.tracks, s.schedule};
}

static bool sameKeys(const Tracks& a, const Tracks& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].keys.size() != b[i].keys.size()) return false;
        for (size_t k = 0; k < a[i].keys.size(); ++k) {
            const TrackKey &x = a[i].keys[k], &y = b[i].keys[k];
            if (x.beat != y.beat || x.value != y.value || x.interpolation != y.interpolation) return false;
        }
    }
    return true;
}

static bool sameSchedule(const ScheduleValues& a, const ScheduleValues& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Writes `text` to `path` through a temporary file beside it; with no
// path, first holds a new name (STEM.txt, STEM-2.txt...) in the current
// folder, never one that exists. False with *error.
static bool saveEdited(std::string& path, const char* stem, const std::string& text, std::string* error)
{
    error->clear();
    for (int n = 1; path.empty() && n <= MOST_NAMES; ++n) {
        std::string name = stem;
        if (n > 1) name += '-' + std::to_string(n);
        name += ".txt";
        if (reserveName(name, error)) path = name;
        if (!error->empty()) return false;
    }
    if (path.empty()) {
        *error = std::string("every name from ") + stem + ".txt to " + stem + "-999.txt is taken here";
        return false;
    }
    const std::string temporary = makeTemporaryBeside(path, ".txt", error);
    if (temporary.empty()) return false;
    std::ofstream out(temporary, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::remove(temporary.c_str());
        *error = "cannot write " + path + " (is the disk full?)";
        return false;
    }
    return moveIntoPlace(temporary, path, error);
}

// One edited file saved (see saveEdited), and its stamp taken so that the
// watch does not read it back; said when it failed or was made now.
static void saveEditedAndSay(Studio& s, std::string& path, const char* stem, const std::string& text,
                             const std::string& what, const char* option, FileStamp& stamp)
{
    std::string error;
    const bool made = path.empty();
    if (!saveEdited(path, stem, text, &error))
        say(s, what + " not saved (the studio keeps the change): " + error);
    else if (made)
        say(s, what + " saved to " + path + " (give it with " + option + " FILE)");
    stamp = fileStamp(path);
}

// Saves what differs from `before`: the track file, the schedule file.
static void saveChanges(Studio& s, StudioOptions& o, const EditState& before)
{
    if (!sameKeys(before.tracks, s.edits.tracks))
        saveEditedAndSay(s, o.tracks, "vantrop-tracks", tracksText(s.edits.tracks), "the keys are", "--tracks",
                         s.edits.trackStamp);
    if (!sameSchedule(before.schedule, s.schedule))
        saveEditedAndSay(s, o.schedule, "vantrop-schedule", scheduleText(s.schedule), "the schedule is", "--schedule",
                         s.scheduleStamp);
}

void finishEdit(Studio& s, StudioOptions& o, const std::string& what)
{
    StudioEdits& d = s.edits;
    setRendererTracks(*s.renderer, d.tracks);
    if (sameKeys(d.before.tracks, d.tracks) && sameSchedule(d.before.schedule, s.schedule)) return;
    d.undo.push_back(d.before);
    d.redo.clear();
    saveChanges(s, o, d.before);
    d.changedAtMs = nowMs();
    d.said = what;
}

// Ctrl+Z (back) or Ctrl+Shift+Z (forward): the state before the last change, or after the last undone one.
static void undoOrRedo(Studio& s, StudioOptions& o, bool redo)
{
    StudioEdits& d = s.edits;
    std::vector<EditState>& from = redo ? d.redo : d.undo;
    std::vector<EditState>& to = redo ? d.undo : d.redo;
    if (from.empty()) {
        say(s, redo ? "nothing to redo" : "nothing to undo");
        return;
    }
    const EditState now{d.tracks, s.schedule};
    to.push_back(now);
    d.tracks = from.back().tracks;
    s.schedule = from.back().schedule;
    from.pop_back();
    d.track = d.key = -1;
    addLanesForKeys(d);
    setRendererTracks(*s.renderer, d.tracks);
    saveChanges(s, o, now);
    d.changedAtMs = nowMs();
    d.said = redo ? "redone" : "undone";
}

bool editKeys(Studio& s, StudioOptions& o, SDL_Keycode key, bool shift, bool ctrl)
{
    StudioEdits& d = s.edits;
    const bool selected = d.track >= 0 && d.key >= 0 && d.drag == EditDrag::None;
    if (ctrl && key == SDLK_z) {
        if (d.drag == EditDrag::None) undoOrRedo(s, o, shift);
    } else if (key == SDLK_i && selected) {
        beginEdit(s);
        TrackKey& k = d.tracks[size_t(d.track)].keys[size_t(d.key)];
        k.interpolation = Interpolation((int(k.interpolation) + 1) % INTERPOLATION_COUNT);
        finishEdit(s, o,
                   d.tracks[size_t(d.track)].name + " leaves beat " + exactDecimal(k.beat) + " " +
                       interpolationName(k.interpolation));
    } else if (key == SDLK_DELETE && selected) {
        beginEdit(s);
        Track& track = d.tracks[size_t(d.track)];
        const float beat = track.keys[size_t(d.key)].beat;
        track.keys.erase(track.keys.begin() + d.key);
        d.key = -1;
        finishEdit(s, o, "the key of " + track.name + " at beat " + exactDecimal(beat) + " is removed");
    } else if (key == SDLK_t) {
        for (const Track& track : d.tracks)
            if (std::find(d.lanes.begin(), d.lanes.end(), track.name) == d.lanes.end()) {
                d.lanes.push_back(track.name);
                return true;
            }
        say(s, "every track has its lane");
    } else {
        return false;
    }
    return true;
}

void reportEdit(Studio& s)
{
    StudioEdits& d = s.edits;
    if (!d.changedAtMs) return;
    const int64_t latency = nowMs() - d.changedAtMs;
    d.changedAtMs = 0;
    say(s, d.said + " (on screen " + std::to_string(latency) + " ms after the change)");
}
