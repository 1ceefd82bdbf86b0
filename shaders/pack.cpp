#include "shaders/pack.h"

#include "shaders/features.h"
#include "shaders/minify.h"
#include "shaders/resolution.h"
#include "shaders/schedule_uniform.h"
#include "shaders/track_uniforms.h"
#include "timeline/schedule_file.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

static const char* const RESOLUTION_TOKEN = "SHOW_RESOLUTION";
// The exact optimisations of the shipped shader, each a block of the sources
// that only the variants with it switched on keep:
//   // @fast NAME          lines for when NAME is on
//   // @baseline NAME      (optional) lines for when NAME is off
//   // @end
// The shipped shader has all of them, the baseline none.
static const char* const OPTIMISATIONS[] = {"march", "hoist", "bound", "logomin", "fade"};
// The features' names, in the order of their bits (shaders/features.h).
#define VANTROP_FEATURE_NAME(constant, name, bit) name,
static const char* const FEATURES[] = {VANTROP_FEATURES(VANTROP_FEATURE_NAME)};
#undef VANTROP_FEATURE_NAME
static const char* const MARKER = "// @";

// The schedule's names, each with its member of ScheduleValues.
struct ScheduleName {
    const char* name;
    float ScheduleValues::*value;
};
#define VANTROP_SCHEDULE_ENTRY(name, value) {#name, &ScheduleValues::name},
static const ScheduleName SCHEDULE[] = {VANTROP_SCHEDULE(VANTROP_SCHEDULE_ENTRY)};
#undef VANTROP_SCHEDULE_ENTRY

static bool isFeature(const std::string& name)
{
    for (const char* known : FEATURES)
        if (name == known) return true;
    return false;
}

static bool isOptimisation(const std::string& name)
{
    for (const char* known : OPTIMISATIONS)
        if (name == known) return true;
    return false;
}

static std::string knownList()
{
    std::string list;
    for (const char* known : OPTIMISATIONS) list += std::string(list.empty() ? "" : ", ") + known;
    return list;
}

static std::string trimmed(const std::string& line)
{
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// The drivers a text is packed for: desktop OpenGL (GLSL 1.10) or WebGL (GLSL
// ES 1.00). Lines between "// @target NAME" and "// @end" are kept only for
// that one; the target travels in the features as "target:NAME".
static const std::string TARGET_DESKTOP = "desktop", TARGET_ES = "es", TARGET_PREFIX = "target:";

// Keeps the lines of the variant with `enabled` switched on; false (with a
// message naming the file and line) on a marker that is unknown, misspelt or
// out of order.
static bool selectVariant(const std::string& src, const char* path, const std::set<std::string>& enabled,
                          const std::set<std::string>& features, std::string& out, std::string& error)
{
    std::istringstream in(src);
    std::string line, open; // the optimisation or feature of the open block, if any
    std::string target;     // the open target block, inside it or alone
    bool keep = true, keepTarget = true, fastSeen = false;
    int number = 0, openedAt = 0;
    auto fail = [&](const std::string& message) {
        error = std::string(path) + ":" + std::to_string(number) + ": " + message;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        const std::string text = trimmed(line);
        if (text.compare(0, std::strlen(MARKER), MARKER) != 0) {
            if (line.find(MARKER) != std::string::npos)
                return fail("a variant marker must stand on a line of its own: " + text);
            // Dropped lines stay as empty ones, so that every line keeps its number.
            out += (keep && keepTarget ? line : std::string()) + "\n";
            continue;
        }
        out += "\n";
        std::istringstream words(text.substr(std::strlen(MARKER)));
        std::string kind, name, extra;
        words >> kind >> name >> extra;
        if (!extra.empty()) return fail("unexpected text after the marker: " + text);
        if (!target.empty() && kind != "end")
            return fail("a marker inside the block of target " + target + ": " + text);
        if (kind == "end" && name.empty() && !target.empty()) {
            target.clear();
            keepTarget = true;
        } else if (kind == "end" && name.empty()) {
            if (open.empty()) return fail("// @end without a block to end");
            open.clear();
            keep = true;
        } else if (kind == "only") {
            if (!isFeature(name)) return fail("unknown feature '" + name + "' (known: glitch, finale)");
            if (!open.empty()) return fail("// @only " + name + " inside the block of " + open);
            open = name;
            openedAt = number;
            fastSeen = false;
            keep = features.count(name) > 0;
        } else if (kind == "target") {
            if (name != TARGET_DESKTOP && name != TARGET_ES)
                return fail("unknown target '" + name + "' (known: desktop, es)");
            // A target block may stand alone or inside another block.
            target = name;
            if (open.empty()) openedAt = number;
            keepTarget = features.count(TARGET_PREFIX + name) > 0;
        } else if (kind == "fast" || kind == "baseline") {
            if (!isOptimisation(name)) return fail("unknown optimisation '" + name + "' (known: " + knownList() + ")");
            if (kind == "fast" && !open.empty()) return fail("// @fast " + name + " inside the block of " + open);
            if (kind == "baseline" && !(open == name && fastSeen))
                return fail("// @baseline " + name + " must follow the // @fast " + name + " block");
            if (open.empty()) openedAt = number;
            open = name;
            fastSeen = kind == "fast";
            keep = (kind == "fast") == (enabled.count(name) > 0);
        } else {
            return fail("unknown marker '" + text +
                        "' (use // @fast NAME, // @baseline NAME, // @only FEATURE, // @target desktop|es, // @end)");
        }
    }
    if (!open.empty() || !target.empty()) {
        number = openedAt;
        return fail("the block of " + (open.empty() ? "target " + target : open) + " is never ended with // @end");
    }
    return true;
}

// Writes the schedule's values in place of their names, whole words only, or
// with `uniforms` the schedule uniform's element of each name.
static std::string substituteSchedule(std::string text, const ScheduleValues& schedule, bool uniforms)
{
    for (size_t index = 0; index < std::size(SCHEDULE); ++index) {
        const ScheduleName& entry = SCHEDULE[index];
        text = replaceWord(text, entry.name,
                           uniforms ? std::string(SCHEDULE_UNIFORM) + "[" + std::to_string(index) + "]"
                                    : glslFloatLiteral(schedule.*entry.value));
    }
    return text;
}

static std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool parseOptimisations(const std::string& list, std::set<std::string>& enabled, std::string* error)
{
    if (list == "none") return true;
    if (list == "all") {
        enabled.insert(std::begin(OPTIMISATIONS), std::end(OPTIMISATIONS));
        return true;
    }
    std::istringstream names(list);
    std::string name;
    while (std::getline(names, name, ',')) {
        if (!isOptimisation(name)) {
            *error = "unknown optimisation '" + name + "' in --enable (known: " + knownList() + ")";
            return false;
        }
        enabled.insert(name);
    }
    return !enabled.empty();
}

// One file's part of a variant, the schedule, the size and (for the fragment
// shader's files, given `tracks`) the tracks written in, minified.
static bool packFile(const std::string& text, const std::string& path, int fileIndex,
                     const std::set<std::string>& enabled, const std::set<std::string>& features,
                     const std::string& literal, const PackSchedule& schedule, const Tracks* tracks, std::string& out,
                     std::vector<SourceLine>& origins, std::string& error)
{
    std::string selected;
    if (!selectVariant(tracks ? resolveTracks(text, *tracks, schedule.tracksAsUniforms) : text, path.c_str(), enabled,
                       features, selected, error))
        return false;
    selected =
        substituteSchedule(replaceAll(selected, RESOLUTION_TOKEN, literal), *schedule.values, schedule.asUniforms);
    return minifyGlsl(selected, path.c_str(), fileIndex, out, origins, error);
}

// Indices of the files in PackedShaders::originFiles: the vertex shader, main, then the functions.
static constexpr int VERTEX_FILE = 0, MAIN_FILE = 1, FIRST_FUNCTIONS_FILE = 2;

// The fragment shader (functions, then main) with these features; *functionsEnd is where main() begins.
static bool packFragment(const ShaderSources& sources, const std::set<std::string>& enabled,
                         const std::set<std::string>& features, const std::string& literal,
                         const PackSchedule& schedule, const Tracks& tracks, std::string& fragment,
                         std::vector<SourceLine>& origins, size_t* functionsEnd, std::string& error)
{
    if (schedule.asUniforms) {
        // Declared ahead of the sources; the driver's word on it would be put on the first file's first line.
        const std::string declaration =
            "uniform float " + std::string(SCHEDULE_UNIFORM) + "[" + std::to_string(std::size(SCHEDULE)) + "];";
        fragment += declaration;
        origins.resize(origins.size() + declaration.size(), SourceLine{FIRST_FUNCTIONS_FILE, 1});
    }
    for (size_t i = 0; i < sources.functions.size(); ++i)
        if (!packFile(sources.functions[i], sources.files.functions[i], FIRST_FUNCTIONS_FILE + int(i), enabled,
                      features, literal, schedule, &tracks, fragment, origins, error))
            return false;
    *functionsEnd = fragment.size();
    return packFile(sources.main, sources.files.main, MAIN_FILE, enabled, features, literal, schedule, &tracks,
                    fragment, origins, error);
}

bool packShaders(const ShaderSources& sources, const std::set<std::string>& enabled, int width, int height, bool es,
                 const PackSchedule& schedule, PackedShaders& out, std::string* error)
{
    // The vertex shader has no schedule names; packed like the fragment's files, it gets the values written in.
    const PackSchedule vertexSchedule{schedule.values, false, false};
    const std::string literal = resolutionLiteral(width, height);
    const std::string target = TARGET_PREFIX + (es ? TARGET_ES : TARGET_DESKTOP);
    std::set<std::string> allFeatures(std::begin(FEATURES), std::end(FEATURES));
    allFeatures.insert(target);
    out = PackedShaders{};
    out.resolutionLiteral = literal;
    out.originFiles = {sources.files.vertex, sources.files.main};
    out.originFiles.insert(out.originFiles.end(), sources.files.functions.begin(), sources.files.functions.end());
    std::vector<SourceLine> unused;
    size_t functionsEnd = 0;
    Tracks tracks;
    if (!declaredTracks(sources, tracks, error) ||
        !packFile(sources.vertex, sources.files.vertex, VERTEX_FILE, enabled, allFeatures, literal, vertexSchedule,
                  nullptr, out.vertex, out.vertexOrigins, *error) ||
        !packFragment(sources, enabled, allFeatures, literal, schedule, tracks, out.fragment, out.origins,
                      &functionsEnd, *error))
        return false;
    if (!checkComplexity(out.vertex, out.vertexOrigins, out.originFiles, *error) ||
        !checkComplexity(out.fragment, out.origins, out.originFiles, *error))
        return false;
    out.functions = out.fragment.substr(0, functionsEnd);
    // The specialised programs, indexed by the features they keep; the last keeps them all.
    for (int mask = 0; mask + 1 < PROGRAM_VARIANTS; ++mask) {
        std::set<std::string> features = {target};
        for (size_t bit = 0; bit < std::size(FEATURES); ++bit)
            if (mask & (1 << bit)) features.insert(FEATURES[bit]);
        unused.clear();
        if (!packFragment(sources, enabled, features, literal, schedule, tracks, out.specialised[mask], unused,
                          &functionsEnd, *error))
            return false;
    }
    out.specialised[PROGRAM_VARIANTS - 1] = out.fragment;
    return true;
}

std::vector<std::string> optimisationNames()
{
    return std::vector<std::string>(std::begin(OPTIMISATIONS), std::end(OPTIMISATIONS));
}

std::string readableLocation(const PackedShaders& packed, size_t offset, bool vertex)
{
    const std::vector<SourceLine>& origins = vertex ? packed.vertexOrigins : packed.origins;
    if (offset >= origins.size()) return "";
    const SourceLine& at = origins[offset];
    return packed.originFiles[size_t(at.file)] + ":" + std::to_string(at.line);
}
