// The shader packer: turns the readable GLSL files into the single-line
// sources the driver gets, with a screen size and the schedule's values
// written in and one variant of the exact optimisations chosen. The build
// (glsl_pack) and the studio, which repacks on every edit, share it.
#pragma once
#include "shaders/features.h"
#include "timeline/timeline.h"

#include <set>
#include <string>
#include <vector>

struct ShaderFiles {
    std::string vertex, main;           // vertex.glsl, main.glsl
    std::vector<std::string> functions; // the fragment shader's other files, in order
};

// The files' texts, read once for everything packed from them.
struct ShaderSources {
    ShaderFiles files;
    std::string vertex, main;
    std::vector<std::string> functions;
};

// Where a character of a packed source came from: an index into PackedShaders::originFiles, and a line.
struct SourceLine {
    int file;
    int line;
};

struct PackedShaders {
    std::string vertex;
    std::string functions;                     // the fragment shader without main()
    std::string fragment;                      // the complete fragment shader
    std::string specialised[PROGRAM_VARIANTS]; // indexed by the features kept (shaders/features.h)
    std::vector<SourceLine> origins;           // for each character of `fragment`
    std::vector<SourceLine> vertexOrigins;     // for each character of `vertex`
    std::vector<std::string> originFiles;      // the paths the origins name
    std::string resolutionLiteral;             // e.g. "vec2(1280.,720.)"
};

// What a fragment shader for WebGL's GLSL ES starts with: WebGL's fragment
// shaders have no default float precision, and the show needs all of highp
// (the march's distances, the noise coordinates).
inline constexpr const char* ES_FRAGMENT_PREFIX = "precision highp float;";
// The largest shader file read, in bytes (256 KiB; the show's own are a few KiB).
inline constexpr long SHADER_FILE_MAX_BYTES = 256 * 1024;

// The readable sources in `folder` (vertex, main, interface, scene, camera, shading).
ShaderFiles shaderFilesIn(const std::string& folder);
// Whether `path` names one of the readable sources, in a folder that holds
// them: a part of the show's shader, not a whole one.
bool isReadableShaderPart(const std::string& path);
// Reads one shader file: a regular file of at most SHADER_FILE_MAX_BYTES;
// *error names the file and the system's reason.
bool readShaderFile(const std::string& path, std::string& text, std::string* error);
// Reads each file once: regular files only (never waiting on a FIFO or a
// device), up to SHADER_FILE_MAX_BYTES; *error names the file and the system's reason.
bool readShaderSources(const ShaderFiles& files, ShaderSources& out, std::string* error);
// The schedule a shader is packed with: its values written in, or with
// `asUniforms` read from the uniform SCHEDULE_UNIFORM
// (shaders/schedule_uniform.h), so that another schedule needs no new
// program; and its tracks (shaders/track_uniforms.h): their defaults written
// in, or with `tracksAsUniforms` each read from its uniform.
struct PackSchedule {
    const ScheduleValues* values = &BUILT_IN_SCHEDULE;
    bool asUniforms = false;
    bool tracksAsUniforms = false;
};

// Packs with the optimisations in `enabled`, for WebGL's GLSL ES (`es`) or
// desktop OpenGL; false with *error naming the file and line at fault, also
// for a statement or a nesting too large for a GLSL compiler to take safely.
bool packShaders(const ShaderSources& sources, const std::set<std::string>& enabled, int width, int height, bool es,
                 const PackSchedule& schedule, PackedShaders& out, std::string* error);
// Reads "all", "none" or "NAME,NAME"; false with *error naming an unknown optimisation.
bool parseOptimisations(const std::string& list, std::set<std::string>& enabled, std::string* error);
// The names of the exact optimisations, in order.
std::vector<std::string> optimisationNames();
// "scene.glsl:42": the readable file and line of a character of the packed
// fragment shader (or, with `vertex`, of the vertex shader); "" when out of range.
std::string readableLocation(const PackedShaders& packed, size_t offset, bool vertex = false);
