#include "timeline/track_file.h"

#include "timeline/schedule_file.h"
#include "timeline/text_file.h"

#include <cmath>
#include <sstream>

std::string tracksText(const Tracks& tracks)
{
    std::string text =
        "# vantrop tracks: \"track NAME\", then one key a line: BEAT VALUE INTERPOLATION\n"
        "# (step, linear, smooth or ramp; the last key holds its value). Give the file\n"
        "# with --tracks FILE to vantrop, vantrop-studio or vantrop-render.\n";
    for (const Track& track : tracks) {
        if (track.keys.empty()) continue;
        text += "\ntrack " + track.name + "\n";
        for (const TrackKey& key : track.keys)
            text += exactDecimal(key.beat) + " " + exactDecimal(key.value) + " " +
                interpolationName(key.interpolation) + "\n";
    }
    return text;
}

Tracks defaultKeyed(const Tracks& declared)
{
    Tracks keyed = declared;
    for (Track& track : keyed) track.keys = {TrackKey{0.0f, track.defaultValue, Interpolation::Step}};
    return keyed;
}

// One key line: false with *fault saying what is wrong.
static bool parseKey(const std::string& line, const Track& track, TrackKey& key, std::string& fault)
{
    std::istringstream words(line);
    std::string beat, value, interpolation, extra;
    words >> beat >> value >> interpolation >> extra;
    if (interpolation.empty() || !extra.empty()) {
        fault = "expected BEAT VALUE INTERPOLATION, found '" + shownText(line) + "'";
        return false;
    }
    double number = 0;
    if (!readNumber(beat, number) || number < 0.0 || number > LATEST_BEAT) {
        fault = "the beat must be a number from 0 to " + exactDecimal(LATEST_BEAT) + ", not '" + shownText(beat) + "'";
        return false;
    }
    key.beat = float(number);
    if (!readNumber(value, number) || !std::isfinite(float(number))) {
        fault = "the value must be a finite number such as 1.5 or -0.25, not '" + shownText(value) + "'";
        return false;
    }
    key.value = float(number);
    if (!interpolationNamed(interpolation, key.interpolation)) {
        fault = "unknown interpolation '" + shownText(interpolation) + "' (step, linear, smooth or ramp)";
        return false;
    }
    if (!track.keys.empty() && key.beat <= track.keys.back().beat) {
        const float last = track.keys.back().beat;
        fault = key.beat == last
            ? "track " + track.name + " has two keys at beat " + exactDecimal(last) + " (one a beat)"
            : "beat " + exactDecimal(key.beat) + " comes before beat " + exactDecimal(last) +
                ", the key above it in track " + track.name + " (keys go in order of beat)";
        return false;
    }
    return true;
}

// The names the shaders declare, for a message.
static std::string declaredNames(const Tracks& declared)
{
    std::string names;
    for (const Track& track : declared) names += (names.empty() ? "" : ", ") + track.name;
    return names.empty() ? "none" : names;
}

bool parseTracks(const std::string& text, const std::string& path, const Tracks& declared, Tracks& out,
                 std::string* error)
{
    Tracks tracks = declared;
    for (Track& track : tracks) track.keys.clear();
    std::vector<int> startedOn(tracks.size(), 0);
    std::istringstream lines(text);
    std::string line;
    Track* current = nullptr;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = trimmedText(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        std::string fault;
        if (line.rfind("track", 0) == 0 && (line.size() == 5 || line[5] == ' ' || line[5] == '\t')) {
            const std::string name = trimmedText(line.substr(5));
            const int index = trackIndex(tracks, name);
            if (index < 0)
                fault =
                    "unknown track '" + shownText(name) + "' (the shaders declare: " + declaredNames(declared) + ")";
            else if (startedOn[size_t(index)])
                fault = "track " + name + " is given twice (first on line " + std::to_string(startedOn[size_t(index)]) +
                    ")";
            else {
                startedOn[size_t(index)] = number;
                current = &tracks[size_t(index)];
                continue;
            }
        } else if (!current) {
            fault = "a key before any track: start with 'track NAME'";
        } else {
            TrackKey key;
            if (parseKey(line, *current, key, fault)) {
                current->keys.push_back(key);
                continue;
            }
        }
        *error = fileLine(path, number) + fault;
        return false;
    }
    out = std::move(tracks);
    return true;
}

bool readTrackFile(const std::string& path, const Tracks& declared, Tracks& out, std::string* error)
{
    std::string text;
    return readSmallTextFile(path, "the track file", TRACK_FILE_MAX_BYTES, text, error) &&
        parseTracks(text, path, declared, out, error);
}
