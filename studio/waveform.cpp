// The music's waveform for the strip: the loudest and quietest sample of
// every few milliseconds, decoded once on a thread of its own, as playback
// decodes it.
#include "studio/studio.h"

#include <algorithm>
#include <vector>

static void measureWaveform(Waveform* w, std::string music)
{
    long rate = 0;
    std::string error;
    MusicReader* reader = openMusicReader(music.c_str(), 0, &rate, &error);
    if (!reader) return; // the strip shows no waveform; playback has said what is wrong with the file
    const uint64_t framesPerBucket = std::max<uint64_t>(uint64_t(rate) * WAVEFORM_BUCKET_MS / 1000, 1);
    std::vector<int16_t> samples(framesPerBucket * 2);
    const size_t buckets = w->low.size();
    for (size_t b = 0; b < buckets && !w->cancel; ++b) {
        readMusicFrames(reader, samples.data(), framesPerBucket);
        int low = 0, high = 0;
        for (uint64_t f = 0; f < framesPerBucket; ++f) {
            const int mixed = (int(samples[2 * f]) + int(samples[2 * f + 1])) / 2;
            low = std::min(low, mixed);
            high = std::max(high, mixed);
        }
        w->low[b] = int16_t(low);
        w->high[b] = int16_t(high);
    }
    closeMusicReader(reader);
    w->ready = !w->cancel;
}

void startWaveform(Waveform& w, const std::string& music, uint32_t lengthMs)
{
    const size_t buckets = size_t(lengthMs / WAVEFORM_BUCKET_MS) + 1;
    w.low.assign(buckets, 0);
    w.high.assign(buckets, 0);
    w.worker = std::thread(measureWaveform, &w, music);
}

void stopWaveform(Waveform& w)
{
    w.cancel = true;
    if (w.worker.joinable()) w.worker.join();
}
