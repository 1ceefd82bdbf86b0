#include "shaders/track_uniforms.h"

#include "timeline/schedule_file.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

static const std::string TRACK_MARKER = "// @track";

static bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// A name GLSL lets a program declare: a letter or _ first, no "gl_" prefix, no "__".
static bool isGlslName(const std::string& name)
{
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    for (const char c : name)
        if (!isNameChar(c)) return false;
    return name.rfind("gl_", 0) != 0 && name.find("__") == std::string::npos;
}

static std::string trimmedLine(const std::string& line)
{
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// The track a declaration line names: false with *fault.
static bool parseDeclaration(const std::string& line, Track& track, std::string& fault)
{
    const size_t marker = line.find(TRACK_MARKER);
    std::string code = trimmedLine(line.substr(0, marker));
    const std::string value = trimmedLine(line.substr(marker + TRACK_MARKER.size()));
    std::istringstream words(code.empty() || code.back() != ';' ? "" : code.substr(0, code.size() - 1));
    std::string uniform, type, name, extra;
    words >> uniform >> type >> name >> extra;
    if (uniform != "uniform" || type != "float" || name.empty() || !extra.empty()) {
        fault = "a track is declared as 'uniform float NAME; // @track DEFAULT', not '" + trimmedLine(line) + "'";
        return false;
    }
    if (!isGlslName(name)) {
        fault = "'" + name + "' is not a name GLSL allows (a letter or _ first, then letters, digits and _)";
        return false;
    }
    track.name = name;
    char* end = nullptr;
    const double parsed = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(float(parsed))) {
        fault = "track " + name +
            (value.empty() ? " has no default" : " has a default that is not a number: " + value) +
            " (write // @track VALUE, such as // @track 1.5)";
        return false;
    }
    track.defaultValue = float(parsed);
    return true;
}

bool declaredTracks(const ShaderSources& sources, Tracks& out, std::string* error)
{
    Tracks tracks;
    std::vector<std::string> declaredAt;
    std::vector<std::pair<const std::string*, const std::string*>> files;
    for (size_t i = 0; i < sources.functions.size(); ++i)
        files.emplace_back(&sources.functions[i], &sources.files.functions[i]);
    files.emplace_back(&sources.main, &sources.files.main);
    for (const auto& [text, path] : files) {
        std::istringstream lines(*text);
        std::string line;
        for (int number = 1; std::getline(lines, line); ++number) {
            if (line.find(TRACK_MARKER) == std::string::npos) continue;
            const std::string where = *path + ":" + std::to_string(number);
            Track track;
            std::string fault;
            if (parseDeclaration(line, track, fault) && trackIndex(tracks, track.name) >= 0)
                fault = "track " + track.name + " is declared twice (first at " +
                    declaredAt[size_t(trackIndex(tracks, track.name))] + ")";
            if (!fault.empty()) {
                *error = where + ": " + fault;
                return false;
            }
            tracks.push_back(track);
            declaredAt.push_back(where);
        }
    }
    out = std::move(tracks);
    return true;
}

std::string replaceWord(std::string text, const std::string& name, const std::string& with)
{
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
        const bool whole = (at == 0 || !isNameChar(text[at - 1])) &&
            (at + name.size() == text.size() || !isNameChar(text[at + name.size()]));
        if (!whole) {
            at += name.size();
            continue;
        }
        text.replace(at, name.size(), with);
        at += with.size();
    }
    return text;
}

std::string glslFloatLiteral(float value)
{
    std::string text = exactDecimal(value);
    if (text.find('.') == std::string::npos) text += ".0";
    return std::signbit(value) ? "(" + text + ")" : text;
}

std::string resolveTracks(const std::string& text, const Tracks& declared, bool asUniforms)
{
    if (text.find(TRACK_MARKER) == std::string::npos && (asUniforms || declared.empty())) return text;
    std::istringstream lines(text);
    std::string line, out;
    while (std::getline(lines, line)) {
        if (line.find(TRACK_MARKER) != std::string::npos)
            line = asUniforms ? trimmedLine(line.substr(0, line.find(TRACK_MARKER))) : "";
        out += line + "\n";
    }
    if (!asUniforms)
        for (const Track& track : declared) out = replaceWord(out, track.name, glslFloatLiteral(track.defaultValue));
    return out;
}
