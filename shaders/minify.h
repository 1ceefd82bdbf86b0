// The packer's last step: GLSL squeezed onto one line, each character
// remembering its readable file and line, and checked for what a compiler
// could not take.
#pragma once
#include "shaders/pack.h"

#include <string>
#include <vector>

// Appends src to out without comments and without every space that does not
// separate two words or numbers, with the origin of each character appended to
// `origins`; false with `error` naming path:line for an unterminated comment
// or a preprocessor line.
bool minifyGlsl(const std::string& src, const char* path, int fileIndex, std::string& out,
                std::vector<SourceLine>& origins, std::string& error);
// False with `error` naming the readable file and line of a statement with more
// than 1000 operators or brackets nested more than 64 deep, which a GLSL
// compiler might take only by recursing too deep.
bool checkComplexity(const std::string& packed, const std::vector<SourceLine>& origins,
                     const std::vector<std::string>& files, std::string& error);
