// What the renderer needs of OpenGL that WebGL 1 lacks, filled in with
// WebGL's own calls, and the lookup the renderer fetches its entry points by.
#pragma once

// The WebGL 1 function of this name in the current context; null when WebGL has none.
void* webGlLookup(const char* name);
