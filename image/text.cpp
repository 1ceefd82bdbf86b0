#include "image/text.h"

#include <cctype>

// Five rows of three bits each, the left pixel in the highest bit.
struct Glyph {
    char c;
    uint8_t rows[GLYPH_HEIGHT];
};
static constexpr Glyph GLYPHS[] = {
    {'0', {7, 5, 5, 5, 7}},  {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 3, 1, 7}},
    {'4', {5, 5, 7, 1, 1}},  {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 2, 2}},
    {'8', {7, 5, 7, 5, 7}},  {'9', {7, 5, 7, 1, 7}}, {'A', {2, 5, 7, 5, 5}}, {'B', {4, 4, 7, 5, 7}},
    {'C', {3, 4, 4, 4, 3}},  {'D', {6, 5, 5, 5, 6}}, {'E', {7, 4, 7, 4, 7}}, {'F', {7, 4, 6, 4, 4}},
    {'G', {3, 4, 5, 5, 3}},  {'H', {5, 5, 7, 5, 5}}, {'I', {7, 2, 2, 2, 7}}, {'J', {1, 1, 1, 5, 2}},
    {'K', {5, 5, 6, 5, 5}},  {'L', {4, 4, 4, 4, 7}}, {'M', {5, 7, 7, 5, 5}}, {'N', {6, 5, 5, 5, 5}},
    {'O', {2, 5, 5, 5, 2}},  {'P', {6, 5, 6, 4, 4}}, {'Q', {2, 5, 5, 6, 3}}, {'R', {6, 5, 6, 5, 5}},
    {'S', {3, 4, 2, 1, 6}},  {'T', {7, 2, 2, 2, 2}}, {'U', {5, 5, 5, 5, 7}}, {'V', {5, 5, 5, 5, 2}},
    {'W', {5, 5, 7, 7, 5}},  {'X', {5, 5, 2, 5, 5}}, {'Y', {5, 5, 2, 2, 2}}, {'Z', {7, 1, 2, 4, 7}},
    {'.', {0, 0, 0, 0, 2}},  {':', {0, 2, 0, 2, 0}}, {'-', {0, 0, 7, 0, 0}}, {'/', {1, 1, 2, 4, 4}},
    {'%', {5, 1, 2, 4, 5}},  {'(', {1, 2, 2, 2, 1}}, {')', {4, 2, 2, 2, 4}}, {'+', {0, 2, 7, 2, 0}},
    {'=', {0, 7, 0, 7, 0}},  {',', {0, 0, 0, 2, 4}}, {'!', {2, 2, 2, 0, 2}}, {'_', {0, 0, 0, 0, 7}},
    {'\'', {2, 2, 0, 0, 0}}, {'"', {5, 5, 0, 0, 0}}, {';', {0, 2, 0, 2, 4}}, {'#', {5, 7, 5, 7, 5}},
    {'$', {3, 6, 2, 3, 6}},  {'&', {2, 5, 2, 5, 3}}, {'*', {0, 5, 2, 5, 0}}, {'<', {1, 2, 4, 2, 1}},
    {'>', {4, 2, 1, 2, 4}},  {'?', {7, 1, 2, 0, 2}}, {'@', {2, 5, 7, 4, 3}}, {'[', {3, 2, 2, 2, 3}},
    {'\\', {4, 4, 2, 1, 1}}, {']', {6, 2, 2, 2, 6}}, {'^', {2, 5, 0, 0, 0}}, {'`', {4, 2, 0, 0, 0}},
    {'{', {3, 2, 6, 2, 3}},  {'|', {2, 2, 2, 2, 2}}, {'}', {6, 2, 3, 2, 6}}, {'~', {0, 3, 6, 0, 0}},
};

static const uint8_t* glyph(char c)
{
    static constexpr uint8_t BLANK[GLYPH_HEIGHT] = {0, 0, 0, 0, 0};
    const char upper = char(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : GLYPHS)
        if (g.c == upper) return g.rows;
    return BLANK;
}

void drawText(std::vector<uint8_t>& rgb, int width, int height, int x, int y, const std::string& text, int scale,
              uint8_t ink)
{
    for (char c : text) {
        const uint8_t* rows = glyph(c);
        for (int row = 0; row < GLYPH_HEIGHT; ++row)
            for (int column = 0; column < 3; ++column) {
                if (!(rows[row] & (4 >> column))) continue;
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx) {
                        const int px = x + column * scale + dx, py = y + row * scale + dy;
                        if (px < 0 || py < 0 || px >= width || py >= height) continue;
                        const size_t at = (size_t(py) * size_t(width) + size_t(px)) * 3;
                        rgb[at] = rgb[at + 1] = rgb[at + 2] = ink;
                    }
            }
        x += GLYPH_ADVANCE * scale;
    }
}
