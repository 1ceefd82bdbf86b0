#include "shaders/minify.h"

#include <algorithm>
#include <cctype>
#include <cstring>

// Mesa's compiler overflowed its stack (and took the program down with it)
// at about 18,000 operators in one expression; the show's own shaders have
// at most 13 and nest 5 deep.
static constexpr int MAX_STATEMENT_OPERATORS = 1000;
static constexpr int MAX_NESTING = 64;

bool checkComplexity(const std::string& packed, const std::vector<SourceLine>& origins,
                     const std::vector<std::string>& files, std::string& error)
{
    int operators = 0, depth = 0;
    for (size_t i = 0; i < packed.size(); ++i) {
        const char c = packed[i];
        if (c == ';' || c == '{' || c == '}') operators = 0;
        if (std::strchr("+-*/%<>=!&|^?:,", c)) ++operators;
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']' || c == '}') --depth;
        if (operators > MAX_STATEMENT_OPERATORS || depth > MAX_NESTING) {
            const SourceLine& at = origins[std::min(i, origins.size() - 1)];
            error = files[size_t(at.file)] + ":" + std::to_string(at.line) + ": " +
                (depth > MAX_NESTING
                     ? "brackets nested more than " + std::to_string(MAX_NESTING) + " deep"
                     : "a statement with more than " + std::to_string(MAX_STATEMENT_OPERATORS) + " operators") +
                ", more than the shader compiler can be trusted with; split it up";
            return false;
        }
    }
    return true;
}

static bool isWordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

bool minifyGlsl(const std::string& src, const char* path, int fileIndex, std::string& out,
                std::vector<SourceLine>& origins, std::string& error)
{
    bool pendingSpace = false;
    int line = 1;
    auto emit = [&](char c) {
        out += c;
        origins.push_back({fileIndex, line});
    };
    for (size_t i = 0; i < src.size(); ++i) {
        const char c = src[i];
        if (c == '\n') ++line;
        if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
            while (i + 1 < src.size() && src[i + 1] != '\n') ++i;
            pendingSpace = true;
        } else if (c == '/' && i + 1 < src.size() && src[i + 1] == '*') {
            const size_t end = src.find("*/", i + 2);
            if (end == std::string::npos) {
                error = std::string(path) + ":" + std::to_string(line) + ": unterminated /* comment";
                return false;
            }
            for (size_t k = i; k < end; ++k) line += src[k] == '\n';
            i = end + 1;
            pendingSpace = true;
        } else if (c == '#') {
            error = std::string(path) + ":" + std::to_string(line) +
                ": preprocessor lines cannot live in a single-line shader";
            return false;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            pendingSpace = true;
        } else {
            if (pendingSpace && !out.empty() && isWordChar(out.back()) && isWordChar(c)) emit(' ');
            pendingSpace = false;
            emit(c);
        }
    }
    return true;
}
