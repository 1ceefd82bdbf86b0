// Test access to the real shader through the real driver (Mesa through EGL):
// evaluate shader functions per pixel into a float framebuffer, or render
// whole frames with the show's renderer.
#pragma once
#include "render/entry_points.h"
#include "timeline/timeline.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using Vec4 = std::array<float, 4>;

// Opens the headless context once per process; fails the calling test when it cannot.
bool ensureHeadlessGl();
// How the harness's context looks GL functions up (opening it first); nullptr when it cannot.
GlLookup headlessGlLookup();
// Runs `body` (GLSL statements that read vec4 p and assign vec4 result) after
// initPixelValues() in a pixel per input, with the uniforms m set from params.
std::vector<Vec4> evaluateShader(const std::string& body, const FrameParams& params, const std::vector<Vec4>& inputs);
// FrameParams with just time and beat set consistently (the envelopes at 0, warp 1, pulseGain 0.2).
FrameParams paramsAtBeat(float beat);
// The show's frame at this position, rendered at width x height into a float
// buffer (RGBA, bottom row first), with the shipped or another fragment shader,
// timed by `schedule` (which a shader reading the schedule's uniform gets).
std::vector<Vec4> renderFloatFrame(uint32_t positionMs, int width, int height, const char* fragmentSource = nullptr,
                                   const ScheduleValues& schedule = BUILT_IN_SCHEDULE);
