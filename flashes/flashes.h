// The photosensitivity check: pictures in order at a frame rate, measured
// against the general flash and red flash thresholds. A flash is a pair of
// opposing changes of relative luminance by 0.1 or more with the darker
// state below 0.8 (general), or of red, (R - G - B) x 320 by more than 20
// with one state a saturated red, R / (R + G + B) >= 0.8; a picture fails
// where, within one second, more than three flashes cover more than a
// quarter of a 10-degree field of view (341x256 pixels of a 1024x768 screen,
// scaled to the picture's height). Pure: tested on made pictures.
#pragma once
#include <cstdint>
#include <vector>

// What the second of pictures up to a frame did.
struct FlashSecond {
    float meanLuminance;      // the frame's mean relative luminance, 0..1
    float generalFlashes;     // the most general flashes in one place within the second
    float redFlashes;         // the most red flashes
    float generalShare;       // the largest share of a 10-degree field flashing more than three times, 0..1
    float redShare;           // the same for red flashes
    float generalAreaFlashes; // the most general flashes that more than a quarter of some field reaches
    float redAreaFlashes;     // the same for red flashes
};

// The share of a field over which more than three flashes a second fail.
inline constexpr float FAILING_SHARE = 0.25f;

struct FlashAnalysis;

// An analysis of width x height pictures at fps frames a second.
FlashAnalysis* createFlashAnalysis(int width, int height, uint32_t fps);
// Adds the next picture: RGB bytes (sRGB), width x height, rows in either order.
void addFlashFrame(FlashAnalysis& analysis, const uint8_t* rgb);
// A FlashSecond for every picture added so far, in order.
const std::vector<FlashSecond>& flashSeconds(const FlashAnalysis& analysis);
// Whether the second up to this frame fails the general or the red rule.
bool generalFails(const FlashSecond& second);
bool redFails(const FlashSecond& second);
void destroyFlashAnalysis(FlashAnalysis* analysis);
