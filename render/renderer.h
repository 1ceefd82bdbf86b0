// The GL renderer: the scene's shader programs, the noise texture and the
// per-frame draw. Needs a current GL context.
#pragma once
#include "render/entry_points.h"
#include "shaders/features.h"
#include "timeline/timeline.h"

#include <cstdint>
#include <string>

// What lastDrawnProgram says of a renderer set up with one program alone.
inline constexpr int SINGLE_PROGRAM = -1;

// Each set-up loads the entry points, makes the noise texture and builds its
// programs; called again, it replaces the last set-up's programs and textures
// once the new ones have built. A rejected shader leaves the renderer drawing
// as it did; *error says what failed.
//
// The show's own shader at width x height, as a set of programs: one per
// features a frame may need, each frame drawn with the smallest one that has
// them. All four are built now, so that no frame waits for one.
bool initShowRenderer(GlLookup lookup, int width, int height, std::string* error);
// The same set, with only the program of the frame at positionMs built now
// (one picture); the others are built when a frame first needs them.
bool initShowRendererForFrame(GlLookup lookup, int width, int height, uint32_t positionMs, std::string* error);
// A set of programs from these sources, indexed as PROGRAM_VARIANTS (the last
// the complete shader), with this vertex shader; all built now, or with a
// framePositionMs only that frame's program (the others when first needed).
bool initRendererFromSources(GlLookup lookup, const char* vertexSource, const char* const sources[PROGRAM_VARIANTS],
                             const int64_t* framePositionMs, std::string* error);
// Builds every program of the set not built yet; false with *error (the
// driver's log) at the first one the driver rejects.
bool buildPendingPrograms(std::string* error);
// One fragment shader alone (written for the show's size), drawn at width x height: every frame draws with it.
bool initSingleProgramRenderer(GlLookup lookup, const char* fragmentSource, int width, int height, std::string* error);
// The index of the show's program that draws a frame with these parameters.
int programVariantFor(const FrameParams& params);
// Which program drew the last frame: its index in the show's set, or SINGLE_PROGRAM.
int lastDrawnProgram();
// Draws the frame at this music position into the current framebuffer.
void renderFrame(uint32_t positionMs);
// Why a frame drew nothing: the driver's log for a program of this set-up
// built when a frame first needed it and rejected; "" if none was, and cleared once taken.
std::string takeRendererFailure();
