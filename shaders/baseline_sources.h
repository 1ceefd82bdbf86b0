// The scene's fragment shader without its exact optimisations, for the
// benchmark and the tests that compare the two; the show never uses it.
#pragma once

// The complete baseline fragment shader with the build's screen size compiled in.
extern const char BASELINE_FRAGMENT_SOURCE[];
// The baseline with only the march's exit, as any straightforward shader has
// it: the reference that performance targets are measured against.
extern const char REFERENCE_FRAGMENT_SOURCE[];
