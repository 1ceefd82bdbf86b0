#include "render/noise.h"

#include <cstddef>
#include <vector>

static constexpr uint32_t RANDOM_MULTIPLIER = 214013;
static constexpr uint32_t RANDOM_INCREMENT = 2531011;

// The next value of the fixed linear congruential generator: the whole upper 16 bits of its state.
static uint32_t nextRandom(uint32_t& state)
{
    state = state * RANDOM_MULTIPLIER + RANDOM_INCREMENT;
    return state >> 16;
}

void fillNoise(uint8_t* bytes)
{
    uint32_t state = 0;
    for (int i = 0; i < NOISE_SIZE * NOISE_SIZE * 4; ++i) bytes[i] = uint8_t(nextRandom(state));
}

void createNoiseTexture(GLuint names[2])
{
    // Nothing reads the bytes after the upload, so they need not outlive it.
    std::vector<uint8_t> noise(size_t(NOISE_SIZE) * NOISE_SIZE * 4);
    fillNoise(noise.data());
    glGenTextures(2, names);
    glBindTexture(GL_TEXTURE_2D, names[0]);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, float(GL_LINEAR));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, float(GL_LINEAR));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, float(GL_REPEAT));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, float(GL_REPEAT));
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, NOISE_SIZE, NOISE_SIZE, 0, GL_RGBA, GL_UNSIGNED_BYTE, noise.data());
}
