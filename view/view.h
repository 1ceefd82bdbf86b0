// How the show's picture fits a window, and how coarse a moving preview is
// drawn: pure rules that the studio and the web page share (the page calls
// them in the WebAssembly module).
#pragma once

// The show's frame: 16:9.
inline constexpr int ASPECT_W = 16, ASPECT_H = 9;
// Auto preview keeps a moving picture's frames under this, milliseconds.
inline constexpr double AUTO_PREVIEW_FRAME_MS = 50.0;
// The preview scales, finest first: the picture is drawn at 1/scale of its box.
inline constexpr int PREVIEW_SCALES[] = {1, 2, 4};
// The preview setting that picks the scale by itself.
inline constexpr int AUTO_PREVIEW = 0;

// The widest picture any program draws, pixels: 8K.
inline constexpr int MAX_PICTURE_WIDTH = 7680;

// Whether width x height is a size the show is drawn at: 16:9, from 16x9 to 7680x4320.
bool isShowSize(double width, double height);

// A rectangle in a window, pixels from its left and top (or bottom) edge.
struct ViewBox {
    int x = 0, y = 0, width = ASPECT_W, height = ASPECT_H;
};

// The largest 16:9 box centred in a width x height window (at least 16x9).
ViewBox pictureBoxIn(int width, int height);
// The size drawn for a box `boxWidth` wide at a preview scale: a 16:9 size, at least 16x9.
ViewBox drawnSize(int boxWidth, int scale);
// The preview setting after `setting` in the cycle 1, 2, 4, auto (0 for auto).
int nextPreviewSetting(int setting);

// Auto preview's state: the scale, and the frames timed since it last changed.
struct AutoPreview {
    int scale = 1;
    double timedMs = 0;
    int frames = 0;
};
// Takes the time the last frame took and gives the scale to draw at: full
// size while the picture stands still; while it moves, the next coarser
// scale where the frames of the last moments averaged over
// AUTO_PREVIEW_FRAME_MS, the next finer where they took under a quarter of it.
int autoPreviewScale(AutoPreview& preview, double frameMs, bool moving);
