// The scene's GLSL sources as single-line strings for the driver (no #version
// line: GLSL 1.10), generated at build time from the files in shaders/.
#pragma once
#include "shaders/features.h"

#include <string>

extern const char VERTEX_SOURCE[];
// The complete fragment shader with the build's screen size compiled in.
extern const char FRAGMENT_SOURCE[];
// The fragment shader without its main(), for programs that add their own entry point.
extern const char FRAGMENT_FUNCTIONS[];
// The fragment shader specialised for frames that need only some features,
// indexed by the features kept (shaders/features.h); the last is FRAGMENT_SOURCE.
extern const char* const FRAGMENT_SPECIALISED[PROGRAM_VARIANTS];
// The literal that stands for the build's screen size in the sources, e.g. "vec2(1280.,720.)".
extern const char SHOW_RESOLUTION_LITERAL[];

// `source` with the screen-size literal replaced by one for width x height, for rendering at other sizes.
std::string withResolution(const char* source, int width, int height);
