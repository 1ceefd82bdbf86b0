// How a screen size is written into the shaders' text.
#pragma once
#include <string>

// The GLSL literal for a size of width x height pixels: "vec2(1280.,720.)".
inline std::string resolutionLiteral(int width, int height)
{
    std::string literal = "vec2(";
    literal += std::to_string(width);
    literal += ".,";
    literal += std::to_string(height);
    return literal + ".)";
}
