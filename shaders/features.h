// The scene's features that a program may leave out: code in the GLSL
// sources between "// @only NAME" and "// @end", kept only by the programs
// with that feature. Each guards code whose `if` is never taken while its
// frame parameter is 0, so a program without it draws the same picture
// wherever the renderer picks it. A program's index has bit n set when it
// keeps feature n; the last index keeps them all (the complete shader).
#pragma once

// X(CONSTANT, NAME, BIT): the features in the order of their bits; FEATURE_CONSTANT is the bit.
#define VANTROP_FEATURES(X) \
    X(GLITCH, "glitch", 1)  \
    X(FINALE, "finale", 2)

#define VANTROP_FEATURE_BIT(constant, name, bit) +1
// How many programs a set has: one for every choice of features.
inline constexpr int PROGRAM_VARIANTS = 1 << (0 VANTROP_FEATURES(VANTROP_FEATURE_BIT));
#undef VANTROP_FEATURE_BIT
#define VANTROP_FEATURE_CONSTANT(constant, name, bit) inline constexpr int FEATURE_##constant = bit;
VANTROP_FEATURES(VANTROP_FEATURE_CONSTANT)
#undef VANTROP_FEATURE_CONSTANT
