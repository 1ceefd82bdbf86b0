// The scene's noise texture: 256x256 RGBA bytes from a fixed linear
// congruential generator, the same on every machine.
#pragma once
#include "render/gl.h"

#include <cstdint>

// Texels per side of the noise texture.
inline constexpr int NOISE_SIZE = 256;

// Fills the 256x256 RGBA noise bytes (262144 of them) from seed 0.
void fillNoise(uint8_t* bytes);
// Makes two texture names into `names`, the noise texture in the first, and leaves it bound on texture unit 0.
void createNoiseTexture(GLuint names[2]);
