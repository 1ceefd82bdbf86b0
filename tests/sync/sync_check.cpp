// sync_check: what a listener of the show heard, from a recording of the
// sound server's output, against the decoded track and the show's clock log.
//   sync_check record OUT.raw OUT.times      (parec's raw output on stdin)
//   sync_check analyse TRACK.mp3 REC.raw REC.times CLOCK.log
// `record` stamps each block it receives with the steady clock, so that the
// recording's samples can be placed in time; `analyse` aligns the recording
// with the track sample by sample and reports dropouts, the head's loss and
// the picture's lead over the sound. It exits 1 when any of them is off.
#include "music/for_tests.h"
#include "music/music.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static constexpr size_t MATCH_FRAMES = 64;       // frames that must agree to place a stretch of recording
static constexpr double SEARCH_AHEAD_S = 2.0;    // how far past a gap the track is searched, seconds
static constexpr double MAX_MEDIAN_LEAD_MS = 10; // the picture may lead (or trail) the sound by this much
// A frame drawn before the recording's first sound is early when its position
// is further ahead than the recording's time line can tell (its 5 ms blocks).
static constexpr double EARLY_TOLERANCE_MS = 10;
static constexpr size_t READ_BYTES = 4096;

using Frame = uint32_t; // one stereo frame of two 16-bit samples, compared whole

static int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static int record(const char* rawPath, const char* timesPath)
{
    FILE* raw = std::fopen(rawPath, "wb");
    FILE* times = std::fopen(timesPath, "w");
    if (!raw || !times) {
        std::fprintf(stderr, "sync_check: cannot write %s or %s\n", rawPath, timesPath);
        return 2;
    }
    char buffer[READ_BYTES];
    uint64_t total = 0;
    ssize_t got;
    while ((got = read(0, buffer, sizeof buffer)) > 0) {
        const int64_t at = nowUs();
        std::fwrite(buffer, 1, size_t(got), raw);
        total += uint64_t(got);
        std::fprintf(times, "%lld %llu\n", (long long)at, (unsigned long long)total);
    }
    std::fclose(raw);
    std::fclose(times);
    return 0;
}

static std::vector<Frame> readFrames(const char* path)
{
    std::vector<Frame> frames;
    if (FILE* f = std::fopen(path, "rb")) {
        Frame block[4096];
        size_t got;
        while ((got = std::fread(block, sizeof(Frame), 4096, f)) > 0) frames.insert(frames.end(), block, block + got);
        std::fclose(f);
    }
    return frames;
}

static bool matchesAt(const std::vector<Frame>& a, size_t i, const std::vector<Frame>& b, size_t j)
{
    if (i + MATCH_FRAMES > a.size() || j + MATCH_FRAMES > b.size()) return false;
    return std::memcmp(&a[i], &b[j], MATCH_FRAMES * sizeof(Frame)) == 0;
}

// Where in track[from, to) the recording's frames from `at` on appear, or SIZE_MAX.
static size_t findInTrack(const std::vector<Frame>& rec, size_t at, const std::vector<Frame>& track, size_t from,
                          size_t to)
{
    for (size_t j = from; j < std::min(to, track.size()); ++j)
        if (rec[at] == track[j] && matchesAt(rec, at, track, j)) return j;
    return SIZE_MAX;
}

struct Stretch {
    size_t recStart, trackStart, length; // frames of the recording that are the track's, in order
};

struct Gap {
    size_t recAt;            // where in the recording the track broke off
    size_t silentFrames;     // frames of silence (or other sound) before it went on
    long long skippedFrames; // frames of the track that were never heard (negative: repeated)
};

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "record") == 0) return record(argv[2], argv[3]);
    if (argc != 6 || std::strcmp(argv[1], "analyse") != 0) {
        std::fprintf(stderr,
                     "usage: sync_check record OUT.raw OUT.times\n"
                     "       sync_check analyse TRACK.mp3 REC.raw REC.times CLOCK.log\n");
        return 2;
    }
    std::vector<int16_t> samples;
    uint64_t trackFrames = 0;
    long rate = 0;
    std::string error;
    if (!decodeMusicFile(argv[2], &samples, &trackFrames, &rate, &error)) {
        std::fprintf(stderr, "sync_check: %s\n", error.c_str());
        return 2;
    }
    std::vector<Frame> track(trackFrames);
    std::memcpy(track.data(), samples.data(), trackFrames * sizeof(Frame));
    const std::vector<Frame> rec = readFrames(argv[3]);

    // The track's first sound, and where the recording's first sound is in the track.
    const size_t trackFirst =
        size_t(std::find_if(track.begin(), track.end(), [](Frame f) { return f != 0; }) - track.begin());
    const size_t recFirst = size_t(std::find_if(rec.begin(), rec.end(), [](Frame f) { return f != 0; }) - rec.begin());
    if (recFirst >= rec.size()) {
        std::printf("sync_check: the recording is silent: nothing reached the sound server\n");
        return 1;
    }
    size_t j = findInTrack(rec, recFirst, track, 0, track.size());
    if (j == SIZE_MAX) {
        std::printf("sync_check: the recording's first sound is nowhere in the track (is the volume at 100%%?)\n");
        return 1;
    }
    const long long headLost = (long long)j - (long long)trackFirst;

    std::vector<Stretch> stretches;
    std::vector<Gap> gaps;
    size_t i = recFirst;
    bool unaligned = false;
    while (i < rec.size() && j < track.size()) {
        const size_t startI = i, startJ = j;
        while (i < rec.size() && j < track.size() && rec[i] == track[j]) ++i, ++j;
        stretches.push_back({startI, startJ, i - startI});
        if (i >= rec.size() || j >= track.size()) break;
        size_t k = i;
        while (k < rec.size() && rec[k] == 0) ++k;
        if (k >= rec.size()) break; // the recording ended in silence
        const size_t from = j > size_t(rate) / 10 ? j - size_t(rate) / 10 : 0;
        const size_t found = findInTrack(rec, k, track, from, j + size_t(SEARCH_AHEAD_S * double(rate)));
        if (found == SIZE_MAX) {
            unaligned = true;
            break;
        }
        gaps.push_back({i, k - i, (long long)found - (long long)j});
        i = k;
        j = found;
    }
    const size_t heardTo = stretches.empty() ? 0 : stretches.back().trackStart + stretches.back().length;

    // The recording's time line: block n ended at frame total/4, received at
    // t; the earliest-received blocks bound when frame 0 played.
    double recordingStartUs = 1e300;
    if (FILE* f = std::fopen(argv[4], "r")) {
        long long at;
        unsigned long long bytes;
        while (std::fscanf(f, "%lld %llu", &at, &bytes) == 2)
            recordingStartUs = std::min(recordingStartUs, double(at) - double(bytes / 4) * 1e6 / double(rate));
        std::fclose(f);
    }
    std::vector<double> leads;
    double earlyMax = 0; // positions drawn before the first sound
    int earlyFrames = 0, frames = 0;
    if (FILE* f = std::fopen(argv[5], "r")) {
        long long at;
        unsigned position;
        while (std::fscanf(f, "%lld %u", &at, &position) == 2) {
            ++frames;
            const double recIndex = (double(at) - recordingStartUs) * double(rate) / 1e6;
            if (recIndex < double(recFirst)) {
                if (double(position) > EARLY_TOLERANCE_MS) ++earlyFrames;
                earlyMax = std::max(earlyMax, double(position));
                continue;
            }
            for (const Stretch& s : stretches) {
                if (recIndex >= double(s.recStart) && recIndex < double(s.recStart + s.length)) {
                    const double heardMs =
                        (double(s.trackStart) + recIndex - double(s.recStart)) * 1000.0 / double(rate);
                    if (heardMs + 50.0 < double(trackFrames) * 1000.0 / double(rate))
                        leads.push_back(double(position) - heardMs);
                    break;
                }
            }
        }
        std::fclose(f);
    }
    double silentMs = 0;
    long long skipped = 0;
    for (const Gap& g : gaps) silentMs += double(g.silentFrames) * 1000.0 / double(rate), skipped += g.skippedFrames;
    std::sort(leads.begin(), leads.end());
    const double median = leads.empty() ? NAN : leads[leads.size() / 2];

    std::printf("track: %llu frames at %ld Hz; heard %zu of them in %zu stretches\n", (unsigned long long)trackFrames,
                rate, heardTo, stretches.size());
    std::printf("dropouts: %zu, %.1f ms of silence in all, %lld frames of the track skipped\n", gaps.size(), silentMs,
                skipped);
    for (size_t g = 0; g < std::min<size_t>(gaps.size(), 10); ++g)
        std::printf("  at %.3f s of the recording: %.1f ms silent, %lld frames skipped\n",
                    double(gaps[g].recAt) / double(rate), double(gaps[g].silentFrames) * 1000.0 / double(rate),
                    gaps[g].skippedFrames);
    std::printf("head: %lld frames of the track lost before the first sound\n", headLost);
    if (!leads.empty())
        std::printf("picture leads sound: median %.1f ms, min %.1f, max %.1f, over %zu of %d frames\n", median,
                    leads.front(), leads.back(), leads.size(), frames);
    std::printf("frames drawn more than %.0f ms ahead before any sound: %d (the furthest at %.0f ms)\n",
                EARLY_TOLERANCE_MS, earlyFrames, earlyMax);
    if (unaligned) std::printf("the recording lost its place in the track at %.3f s\n", double(i) / double(rate));
    const bool reachedEnd = heardTo + size_t(rate) / 10 >= trackFrames;
    if (!reachedEnd) std::printf("the recording ends before the track: heard up to frame %zu\n", heardTo);
    const bool good = gaps.empty() && headLost <= 0 && !unaligned && reachedEnd && earlyFrames == 0 && !leads.empty() &&
        std::fabs(median) <= MAX_MEDIAN_LEAD_MS;
    std::printf("sync: %s\n", good ? "good" : "BAD");
    return good ? 0 : 1;
}
