// The shader packer: turns the readable GLSL files into the single-line
// sources the driver gets, with a screen size and the schedule's values
// written in and one variant of the exact optimisations chosen. The build
// (glsl_pack) and the studio, which repacks on every edit, share it.
#pragma once
#include <set>
#include <string>
#include <vector>

struct ShaderFiles {
    std::string vertex, main;           // vertex.glsl, main.glsl
    std::vector<std::string> functions; // the fragment shader's other files, in order
};

// Where a character of a packed source came from.
struct SourceLine {
    std::string file;
    int line;
};

struct PackedShaders {
    std::string vertex;
    std::string functions;           // the fragment shader without main()
    std::string fragment;            // the complete fragment shader
    std::string specialised[4];      // without the glitch (mask & 1 clear) or the finale (mask & 2 clear) code
    std::vector<SourceLine> origins; // for each character of `fragment`
    std::string resolutionLiteral;   // e.g. "vec2(1280.,720.)"
};

// The readable sources in `folder` (vertex, main, interface, scene, camera, shading).
ShaderFiles shaderFilesIn(const std::string& folder);
// Packs with the optimisations in `enabled`; false with *error naming the file and line at fault.
bool packShaders(const ShaderFiles& files, const std::set<std::string>& enabled, int width, int height,
                 PackedShaders& out, std::string* error);
// Reads "all", "none" or "NAME,NAME"; false with *error naming an unknown optimisation.
bool parseOptimisations(const std::string& list, std::set<std::string>& enabled, std::string* error);
// The names of the exact optimisations, in order.
std::vector<std::string> optimisationNames();
// "scene.glsl:42": the readable file and line of a character of the packed fragment shader.
std::string readableLocation(const PackedShaders& packed, size_t offset);
