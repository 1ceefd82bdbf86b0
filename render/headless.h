// A display-less OpenGL context for tools and tests: EGL on Mesa's
// surfaceless platform, or on a GPU through the EGL device platform; where
// EGL is missing (Windows), a hidden window's. Either draws into an offscreen
// framebuffer.
#pragma once
#include "render/entry_points.h"

#include <cstdint>
#include <string>
#include <vector>

struct HeadlessContext;

// Makes an OpenGL 2.0-or-later compatibility context current; nullptr with *error saying what is missing.
HeadlessContext* openHeadlessContext(std::string* error);
// How GL functions are looked up in this context (for createRenderer).
GlLookup headlessLookup(const HeadlessContext& context);
// The GL_RENDERER string of the current context, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
std::string rendererName();
// Creates and binds an 8-bit RGBA framebuffer of this size and sets the viewport to it.
bool createOffscreenTarget(HeadlessContext& context, int width, int height, std::string* error);
// Reads the bound framebuffer back as 8-bit RGB, top row first.
std::vector<uint8_t> readPixelsRgb(int width, int height);
// Releases the context and the EGL display or the hidden window.
void closeHeadlessContext(HeadlessContext* context);
