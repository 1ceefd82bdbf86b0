// Writes the frame parameters of every millisecond 0..LAST (120000 unless
// given) to FILE as raw floats, 8 a millisecond: the web build runs it in
// node, and the web test compares the file with the native timeline.
#include "timeline/timeline.h"

#include <cstdio>
#include <cstdlib>

static constexpr unsigned DEFAULT_LAST_MS = 120000;

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: timeline_dump FILE [LAST_MS]\n");
        return 2;
    }
    const unsigned last = argc == 3 ? unsigned(std::strtoul(argv[2], nullptr, 10)) : DEFAULT_LAST_MS;
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    for (unsigned ms = 0; ms <= last; ++ms) {
        const FrameParams params = computeFrameParams(BUILT_IN_SCHEDULE, ms);
        std::fwrite(&params, sizeof params, 1, out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
