// The photosensitivity measures on made pictures, before they judge the show.
#include "flashes/flashes.h"
#include "process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

static constexpr int WIDTH = 320, HEIGHT = 180;
static constexpr uint32_t FPS = 60;

struct Colour {
    uint8_t r, g, b;
};
static constexpr Colour BLACK{0, 0, 0}, WHITE{255, 255, 255}, RED{255, 0, 0};
// A grey of about the luminance of saturated red (0.2158 against 0.2126).
static constexpr Colour GREY{128, 128, 128};

// Two seconds of pictures, each frame painted by `paint` (frame, x, y).
static std::vector<FlashSecond> analyse(const std::function<Colour(uint32_t, int, int)>& paint)
{
    FlashAnalysis* analysis = createFlashAnalysis(WIDTH, HEIGHT, FPS);
    std::vector<uint8_t> rgb(size_t(WIDTH) * HEIGHT * 3);
    for (uint32_t frame = 0; frame < 2 * FPS; ++frame) {
        for (int y = 0; y < HEIGHT; ++y)
            for (int x = 0; x < WIDTH; ++x) {
                const Colour c = paint(frame, x, y);
                uint8_t* p = &rgb[(size_t(y) * WIDTH + x) * 3];
                p[0] = c.r, p[1] = c.g, p[2] = c.b;
            }
        addFlashFrame(*analysis, rgb.data());
    }
    std::vector<FlashSecond> seconds = flashSeconds(*analysis);
    destroyFlashAnalysis(analysis);
    return seconds;
}

// Alternating between two colours `hz` times a second (a flash a period).
static Colour flicker(uint32_t frame, double hz, Colour on, Colour off)
{
    return int(frame * 2 * hz / FPS) % 2 ? on : off;
}

static bool anyFails(const std::vector<FlashSecond>& seconds, bool (*fails)(const FlashSecond&))
{
    return std::any_of(seconds.begin(), seconds.end(), fails);
}

TEST(Flashes, MadeFlickersPassAndFailAsTheThresholdsSay)
{
    const auto fast = analyse([](uint32_t f, int, int) { return flicker(f, 5, WHITE, BLACK); });
    EXPECT_TRUE(anyFails(fast, generalFails)) << "a full-screen flicker at 5 Hz fails";
    EXPECT_NEAR(5.0, fast.back().generalFlashes, 0.5);
    EXPECT_FLOAT_EQ(1.0f, fast.back().generalShare);
    EXPECT_FALSE(anyFails(fast, redFails));

    const auto slow = analyse([](uint32_t f, int, int) { return flicker(f, 2, WHITE, BLACK); });
    EXPECT_FALSE(anyFails(slow, generalFails)) << "at 2 Hz it passes";
    EXPECT_NEAR(2.0, slow.back().generalFlashes, 0.5);

    // 5 Hz in a square of a fifth of a 10-degree field's width (the field is 80x60 pixels here).
    const auto small = analyse([](uint32_t f, int x, int y) {
        return x >= 100 && x < 116 && y >= 60 && y < 76 ? flicker(f, 5, WHITE, BLACK) : BLACK;
    });
    EXPECT_FALSE(anyFails(small, generalFails)) << "below the area rule it passes";
    EXPECT_GT(small.back().generalFlashes, 3.0f) << "though it flickers as fast";

    // Saturated red against a grey as bright: no general flash, a red one.
    const auto red = analyse([](uint32_t f, int, int) { return flicker(f, 5, RED, GREY); });
    EXPECT_FALSE(anyFails(red, generalFails));
    EXPECT_TRUE(anyFails(red, redFails)) << "a saturated red flicker trips the red rule";

    // A fine balanced pattern, its squares changing places: the exception.
    const auto fine =
        analyse([](uint32_t f, int x, int y) { return (x / 2 + y / 2 + int(f / 6)) % 2 ? WHITE : BLACK; });
    EXPECT_FALSE(anyFails(fine, generalFails));
}

// The command on the show's own frames: the show's flashiest seconds (the
// finale's white bursts) pass; an edit that flickers the whole picture at
// 5 Hz fails, with its stretch and section said, and a plot is drawn.
TEST(Flashes, CommandJudgesTheDrawnShow)
{
    const std::string dir = makeTempDir(), render = VANTROP_RENDER_PATH;
    const std::string stretch = " --size 160x90 --from 27000 --to 29000";
    const CommandResult show = runCommand(render + " flashes --size 320x180 --from 56500 --to 58500");
    EXPECT_EQ(0, show.status) << show.output;
    EXPECT_NE(std::string::npos, show.output.find("flashes: passes")) << show.output;
    ASSERT_EQ(0,
              runCommand("cp -r " + std::string(VANTROP_SHADERS_DIR) + " " + dir + "/shaders && sed -i " +
                         "'s|^    gl_FragColor = |    colour = vec3(step(0.5, fract(m[0].x * 5.0)));\\n&|' " + dir +
                         "/shaders/main.glsl")
                  .status);
    const CommandResult flicker = runCommand(render + " flashes" + stretch + " --shaders " + dir + "/shaders --plot " +
                                             dir + "/plot.png --marks " + dir + "/marks.txt");
    EXPECT_EQ(3, flicker.status) << flicker.output;
    EXPECT_NE(std::string::npos,
              flicker.output.find("28.98 s  flashes    general: up to 5.0 flashes a second over 100% of a field"))
        << flicker.output;
    EXPECT_NE(std::string::npos, flicker.output.find("FAILS in 1 stretch (")) << flicker.output;
    EXPECT_EQ(0, runCommand("test -s " + dir + "/plot.png").status);
    EXPECT_EQ("27000 28983\n", runCommand("cat " + dir + "/marks.txt").output);
}
