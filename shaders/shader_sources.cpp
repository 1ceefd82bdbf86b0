#include "shaders/shader_sources.h"

#include "shaders/resolution.h"

#include <cstring>

std::string withResolution(const char* source, int width, int height)
{
    const std::string literal = resolutionLiteral(width, height);
    const size_t fromLength = std::strlen(SHOW_RESOLUTION_LITERAL);
    std::string text = source;
    for (size_t at = text.find(SHOW_RESOLUTION_LITERAL); at != std::string::npos;
         at = text.find(SHOW_RESOLUTION_LITERAL, at + literal.size()))
        text.replace(at, fromLength, literal);
    return text;
}
