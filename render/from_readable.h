// The renderer set up from readable shader sources (a shader folder), as the
// studio and vantrop-render --shaders draw with them: packed for the size
// with every exact optimisation, a driver's rejection named by file and line.
#pragma once
#include "render/renderer.h"
#include "shaders/pack.h"

#include <string>

// What a renderer's programs were packed from: the texts in use, and those
// of programs still to build, to name a driver's rejection by the readable
// files' lines.
struct ReadablePrograms;

// With `scheduleAsUniforms` the sources are packed with the schedule's values
// read from a uniform instead of written in: a schedule edit then packs to
// the programs in use and needs no new one; with `tracksAsUniforms` the
// tracks read theirs from their uniforms (the renderer's tracks set them).
// The pictures are the same. With `forWebGl` the sources are packed for
// WebGL's GLSL ES, as the web page draws them.
ReadablePrograms* createReadablePrograms(bool scheduleAsUniforms, bool tracksAsUniforms, bool forWebGl = false);
// Frees it (the renderer's programs are the renderer's).
void destroyReadablePrograms(ReadablePrograms* readable);
// Packs `sources` for width x height with `schedule` and gives `renderer`
// the show's set of programs from them; false with *error saying why, the
// driver's log pointing at the readable files' lines. A failure leaves the
// renderer as it was. With framePositionMs only that frame's program is
// built now (the others when a frame needs them), and nothing at all when
// the packed programs are those of the last set-up (a reload in its
// context, as the studio's).
bool useReadablePrograms(ReadablePrograms& readable, Renderer& renderer, const ShaderSources& sources,
                         const ScheduleValues& schedule, int width, int height, std::string* error,
                         const int64_t* framePositionMs = nullptr);
// Builds the programs that the last set-up with a framePositionMs left for
// later; false with *error naming the readable file and line the driver
// rejected, here or when a frame first needed one. The programs built so far stay.
bool finishReadablePrograms(ReadablePrograms& readable, Renderer& renderer, std::string* error);
// The readable shaders used when none are named: share/vantrop/shaders
// beside the program's folder (installed), else the build's source folder;
// "" when neither has them, with *looked naming both.
std::string defaultShaderFolder(std::string* looked);
// The installed readable shaders' folder: share/vantrop/shaders beside the
// program's folder, whether or not it holds them ("" when the system does not
// say where the program is).
std::string installedShaderFolder();
