#include "shaders/shader_sources.h"

#include <cstring>

std::string withResolution(const char* source, int width, int height)
{
    const std::string literal = "vec2(" + std::to_string(width) + ".," + std::to_string(height) + ".)";
    const size_t fromLength = std::strlen(SHOW_RESOLUTION_LITERAL);
    std::string text = source;
    for (size_t at = text.find(SHOW_RESOLUTION_LITERAL); at != std::string::npos;
         at = text.find(SHOW_RESOLUTION_LITERAL, at + literal.size()))
        text.replace(at, fromLength, literal);
    return text;
}

void specialisedWithResolution(int width, int height, SpecialisedSources& out)
{
    for (int mask = 0; mask < 4; ++mask) {
        out.text[mask] = withResolution(FRAGMENT_SPECIALISED[mask], width, height);
        out.pointers[mask] = out.text[mask].c_str();
    }
}
