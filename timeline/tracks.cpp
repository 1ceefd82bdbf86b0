#include "timeline/tracks.h"

#include <algorithm>
#include <iterator>

static const char* const INTERPOLATION_NAMES[INTERPOLATION_COUNT] = {"step", "linear", "smooth", "ramp"};

const char* interpolationName(Interpolation interpolation)
{
    return INTERPOLATION_NAMES[int(interpolation)];
}

bool interpolationNamed(const std::string& name, Interpolation& out)
{
    for (int i = 0; i < INTERPOLATION_COUNT; ++i)
        if (name == INTERPOLATION_NAMES[i]) {
            out = Interpolation(i);
            return true;
        }
    return false;
}

float trackValueAt(const Track& track, float beat)
{
    const std::vector<TrackKey>& keys = track.keys;
    if (keys.empty()) return track.defaultValue;
    // The first key after the beat; the one before it leads there.
    const auto next =
        std::upper_bound(keys.begin(), keys.end(), beat, [](float b, const TrackKey& k) { return b < k.beat; });
    if (next == keys.begin()) return keys.front().value;
    const TrackKey& from = *std::prev(next);
    if (next == keys.end() || from.interpolation == Interpolation::Step) return from.value;
    double t = (double(beat) - double(from.beat)) / (double(next->beat) - double(from.beat));
    if (from.interpolation == Interpolation::Smooth) t = t * t * (3.0 - 2.0 * t);
    if (from.interpolation == Interpolation::Ramp) t = t * t;
    return float(double(from.value) + (double(next->value) - double(from.value)) * t);
}

int trackIndex(const Tracks& tracks, const std::string& name)
{
    for (size_t i = 0; i < tracks.size(); ++i)
        if (tracks[i].name == name) return int(i);
    return -1;
}

int keyAt(const Track& track, float beat)
{
    for (size_t i = 0; i < track.keys.size(); ++i)
        if (track.keys[i].beat == beat) return int(i);
    return -1;
}

int insertKey(Track& track, const TrackKey& key)
{
    auto at = std::lower_bound(track.keys.begin(), track.keys.end(), key.beat,
                               [](const TrackKey& k, float b) { return k.beat < b; });
    if (at != track.keys.end() && at->beat == key.beat)
        *at = key;
    else
        at = track.keys.insert(at, key);
    return int(at - track.keys.begin());
}
