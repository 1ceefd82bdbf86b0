// A built-in 3x5 pixel font for labels on pictures and the studio's overlay:
// every printable ASCII character, each its own shape.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Font pixels from one character to the next, and a character's height.
inline constexpr int GLYPH_ADVANCE = 4;
inline constexpr int GLYPH_HEIGHT = 5;

// Draws text into an RGB image (3 bytes a pixel, top row first), each font
// pixel `scale` pixels square, in grey `ink`; what falls outside is clipped.
void drawText(std::vector<uint8_t>& rgb, int width, int height, int x, int y, const std::string& text, int scale,
              uint8_t ink);
