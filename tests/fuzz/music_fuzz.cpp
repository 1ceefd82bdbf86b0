// libFuzzer target: any bytes as the music file, through the music module's
// open, length, damage and decode path.
#include "music/for_tests.h"
#include "music/music.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The module opens files by name: an in-memory file has one under /proc.
    static const int fd = memfd_create("music-fuzz.mp3", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
    if (size > 0 && pwrite(fd, data, size, 0) != ssize_t(size)) return 0;
    uint64_t frames = 0;
    uint32_t lengthMs = 0;
    std::string error;
    readMusicLength(path.c_str(), &lengthMs, &error);
    describeMusicDamage(path.c_str());
    long rate = 0;
    decodeMusicFile(path.c_str(), nullptr, &frames, &rate, &error);
    return 0;
}
