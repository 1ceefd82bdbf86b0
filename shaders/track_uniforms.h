// Tracks in the readable shaders: a uniform with a marker and its default,
// "uniform float tintRed; // @track 1.1". Packed with the defaults written in
// (the shipped programs), or as uniforms that the renderer sets each frame
// from a track file's keys.
#pragma once
#include "shaders/pack.h"
#include "timeline/tracks.h"

#include <string>

// Every track the fragment shader's files declare, in their order, without
// keys; false with *error naming file:line for a declaration that is not
// "uniform float NAME; // @track DEFAULT", a name that is no GLSL name, a
// name declared twice, a default missing or not a finite number.
bool declaredTracks(const ShaderSources& sources, Tracks& out, std::string* error);
// `text` with each track's declaration left as the uniform alone
// (asUniforms), or dropped and every use of its name written as its default.
// Lines keep their numbers.
std::string resolveTracks(const std::string& text, const Tracks& declared, bool asUniforms);
// Every whole-word `name` in `text` replaced by `with`.
std::string replaceWord(std::string text, const std::string& name, const std::string& with);
// The shortest GLSL float literal that reads back as exactly this value:
// 10.0, 0.125, (-0.5) (bracketed, so that no operator runs into its sign).
std::string glslFloatLiteral(float value);
