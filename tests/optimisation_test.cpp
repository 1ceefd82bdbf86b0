// The shipped shader's optimisations are exact: every pixel equals the
// straightforward baseline's, in full float precision.
#include "shaders/baseline_sources.h"
#include "shaders/shader_sources.h"
#include "tests/gl_harness.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Optimisations, ShippedShaderDrawsTheBaselinesPictureExactly)
{
    // Intro with thick bars, the bars' shrink, shake, a hit, flashes at both
    // ends, the pulse after beat 52, warp dip and snap, warp swell with the
    // glitch, the shake of the second half, finale, logo, fade-out, black.
    const uint32_t positions[] = {0, 2000, 7100, 13200, 14600, 25230, 30000, 35450, 37500, 40910,
                                  46000, 50000, 55500, 58000, 63000, 67500, 68864, 70000};
    for (uint32_t ms : positions) {
        const auto baseline = renderFloatFrame(ms, 160, 90, BASELINE_FRAGMENT_SOURCE);
        const auto shipped = renderFloatFrame(ms, 160, 90, FRAGMENT_SOURCE);
        ASSERT_EQ(baseline.size(), shipped.size());
        size_t differing = 0;
        for (size_t i = 0; i < baseline.size(); ++i)
            differing += std::memcmp(baseline[i].data(), shipped[i].data(), sizeof(Vec4)) != 0;
        EXPECT_EQ(0u, differing) << "pixels differ at " << ms << " ms";
    }
}

TEST(Optimisations, VariantsDifferOnlyWhereMarked)
{
    EXPECT_NE(nullptr, std::strstr(FRAGMENT_SOURCE, "break;"));
    EXPECT_EQ(nullptr, std::strstr(BASELINE_FRAGMENT_SOURCE, "break;"));
    EXPECT_EQ(nullptr, std::strstr(BASELINE_FRAGMENT_SOURCE, "logoBound"));
    EXPECT_NE(nullptr, std::strstr(FRAGMENT_SOURCE, "logoBound"));
}
