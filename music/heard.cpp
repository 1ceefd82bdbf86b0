#include "music/heard.h"

#include <algorithm>

uint64_t heardFrame(const AudioStamp& stamp, int64_t nowUs, uint64_t latencyFrames, long rate)
{
    const uint64_t elapsedUs = uint64_t(std::max<int64_t>(0, nowUs - stamp.handedAtUs));
    const uint64_t played = std::min(stamp.bufferFrames, elapsedUs * uint64_t(rate) / 1000000);
    const uint64_t handed = stamp.framesBefore + played;
    return handed > latencyFrames ? handed - latencyFrames : 0;
}

uint32_t nextShownMs(uint32_t lastShownMs, uint64_t heardMs, bool playedOut, uint32_t lengthMs)
{
    if (playedOut) heardMs = std::max<uint64_t>(heardMs, lengthMs);
    return uint32_t(std::max<uint64_t>(std::min<uint64_t>(heardMs, UINT32_MAX), lastShownMs));
}
