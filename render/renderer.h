// The GL renderer: the scene's shader programs, the noise texture and the
// per-frame draw. Its state is a Renderer that the caller creates in a current
// GL context and destroys in it.
#pragma once
#include "render/entry_points.h"
#include "shaders/features.h"
#include "timeline/timeline.h"
#include "timeline/tracks.h"

#include <cstdint>
#include <string>

struct Renderer;

// Loads the entry points through `lookup` and makes the noise texture;
// nullptr with *error saying what the driver lacks. It draws nothing until a
// set-up below gives it programs.
Renderer* createRenderer(GlLookup lookup, std::string* error);
// Deletes its programs and textures (in the context it was made in), and the renderer.
void destroyRenderer(Renderer* renderer);

// Each set-up replaces the last one's programs once the new ones have
// built; a rejected shader leaves the renderer drawing as it did, and
// *error says what failed.
//
// The show's own shader at width x height, as a set of programs: one per
// features a frame may need, each frame drawn with the smallest one that has
// them. All four are built now, so that no frame waits for one.
bool useShowPrograms(Renderer& renderer, int width, int height, std::string* error);
// The same set, with only the program of the frame at positionMs (in this
// schedule) built now (one picture); the others when a frame first needs them.
bool useShowProgramsForFrame(Renderer& renderer, int width, int height, const ScheduleValues& schedule,
                             uint32_t positionMs, std::string* error);
// A set of programs from these sources, indexed as PROGRAM_VARIANTS (the last
// the complete shader), with this vertex shader; all built now, or with a
// framePositionMs only that frame's program (the others when first needed).
bool useProgramSources(Renderer& renderer, const char* vertexSource, const char* const sources[PROGRAM_VARIANTS],
                       const ScheduleValues& schedule, const int64_t* framePositionMs, std::string* error);
// Builds every program of the set not built yet; false with *error (the
// driver's log) at the first one the driver rejects.
bool buildPendingPrograms(Renderer& renderer, std::string* error);
// One fragment shader alone (written for the show's size), drawn at width x height: every frame draws with it.
bool useSingleProgram(Renderer& renderer, const char* fragmentSource, int width, int height, std::string* error);
// The index of the show's program that draws a frame with these parameters.
int programVariantFor(const FrameParams& params);
// The tracks each frame sets, by name, on the programs that read them as
// uniforms (packed with tracks as uniforms); none until this is called.
void setRendererTracks(Renderer& renderer, const Tracks& tracks);
// Draws the frame at this music position, timed by `schedule`, into the current framebuffer.
void renderFrame(Renderer& renderer, const ScheduleValues& schedule, uint32_t positionMs);
// Why a frame drew nothing: the driver's log for a program of this set-up
// built when a frame first needed it and rejected; "" if none was, and cleared once taken.
std::string takeRendererFailure(Renderer& renderer);
