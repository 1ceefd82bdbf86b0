#include "view/view.h"

#include <algorithm>
#include <cmath>
#include <iterator>

// Auto preview decides over the frames of about this long, milliseconds, or
// over this many frames, whichever comes first: a slow frame at once, fast
// ones over an average that one late frame does not sway.
static constexpr double DECIDING_MS = 200.0;
static constexpr int DECIDING_FRAMES = 8;

bool isShowSize(double width, double height)
{
    return width >= ASPECT_W && width <= MAX_PICTURE_WIDTH && width * ASPECT_H == height * ASPECT_W &&
        width == std::floor(width);
}

ViewBox pictureBoxIn(int width, int height)
{
    ViewBox box;
    box.width = std::max(std::min(width, height * ASPECT_W / ASPECT_H), ASPECT_W);
    box.height = std::max(box.width * ASPECT_H / ASPECT_W, ASPECT_H);
    box.x = (width - box.width) / 2;
    box.y = (height - box.height) / 2;
    return box;
}

ViewBox drawnSize(int boxWidth, int scale)
{
    ViewBox size;
    const double units = std::round(double(boxWidth) / double(std::max(scale, 1)) / ASPECT_W);
    size.width = std::max(int(units) * ASPECT_W, ASPECT_W);
    size.height = size.width * ASPECT_H / ASPECT_W;
    return size;
}

int nextPreviewSetting(int setting)
{
    if (setting == AUTO_PREVIEW) return PREVIEW_SCALES[0];
    const int* at = std::find(std::begin(PREVIEW_SCALES), std::end(PREVIEW_SCALES), setting);
    return at + 1 < std::end(PREVIEW_SCALES) ? at[1] : AUTO_PREVIEW;
}

int autoPreviewScale(AutoPreview& p, double frameMs, bool moving)
{
    if (!moving) {
        p = AutoPreview{};
        return p.scale;
    }
    p.timedMs += frameMs;
    ++p.frames;
    if (p.timedMs < DECIDING_MS && p.frames < DECIDING_FRAMES) return p.scale;
    const double average = p.timedMs / p.frames;
    p.timedMs = 0;
    p.frames = 0;
    const int coarsest = PREVIEW_SCALES[std::size(PREVIEW_SCALES) - 1];
    // The next finer scale costs four times as much: it must fit too.
    if (average > AUTO_PREVIEW_FRAME_MS && p.scale < coarsest)
        p.scale *= 2;
    else if (average * 4 < AUTO_PREVIEW_FRAME_MS && p.scale > 1)
        p.scale /= 2;
    return p.scale;
}
