// Sync tracks: values keyed over the music's beats, read by the shader as
// uniforms. A track has a default (its declaration in the shader) and keys;
// between two keys the first one's interpolation leads to the second, before
// the first key the first holds, and the last key holds its value after it.
#pragma once
#include <string>
#include <vector>

// How a key leads to the next: hold, a straight line, smoothstep, or a
// quadratic ease-in (the four of the sync-tracker editors, in their order 0-3).
enum class Interpolation { Step, Linear, Smooth, Ramp };
inline constexpr int INTERPOLATION_COUNT = 4;

struct TrackKey {
    float beat = 0.0f; // from 0 to LATEST_BEAT, as the schedule's beats
    float value = 0.0f;
    Interpolation interpolation = Interpolation::Step;
};

struct Track {
    std::string name;           // the shader's uniform
    float defaultValue = 0.0f;  // its value while the track has no key
    std::vector<TrackKey> keys; // in order of beat, no two at one beat
};

// Every track the shaders declare, in their order.
using Tracks = std::vector<Track>;

// "step", "linear", "smooth" or "ramp".
const char* interpolationName(Interpolation interpolation);
// The interpolation named so; false for any other text.
bool interpolationNamed(const std::string& name, Interpolation& out);
// The track's value at this beat, computed in double and rounded to float
// once, so every build computes the same float.
float trackValueAt(const Track& track, float beat);
// The index of the track with this name, or -1.
int trackIndex(const Tracks& tracks, const std::string& name);
// The index of the key at exactly this beat, or -1.
int keyAt(const Track& track, float beat);
// Puts `key` in its place among the keys (replacing one at its beat); returns its index.
int insertKey(Track& track, const TrackKey& key);
