#include "render/from_readable.h"

#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <utility>

// Where a browser's log ("ERROR: 0:1: 'TOKEN' : ...", no column) points:
// the first whole-word TOKEN in the packed text, as a readable file and line.
static std::string browserLog(const PackedShaders& packed, const std::string& log, bool vertex)
{
    static const std::string MARK = "0:1: '";
    std::string out;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const size_t open = line.find(MARK), close = open == std::string::npos ? open : line.find('\'', open + 6);
        std::string where;
        if (close != std::string::npos && close > open + MARK.size()) {
            const std::string token = line.substr(open + MARK.size(), close - open - MARK.size());
            const std::string& text = vertex ? packed.vertex : packed.fragment;
            for (size_t at = text.find(token); at != std::string::npos && where.empty(); at = text.find(token, at + 1))
                if ((at == 0 || !std::isalnum((unsigned char)text[at - 1])) &&
                    (at + token.size() >= text.size() || !std::isalnum((unsigned char)text[at + token.size()])))
                    where = readableLocation(packed, at, vertex);
        }
        out += (out.empty() ? "" : "\n") + (where.empty() ? line : line.replace(open, 3, where));
    }
    return out;
}

// The driver's log with each "0:1(COLUMN)" of the packed single line turned
// into the readable file and line it came from.
static std::string readableLog(const PackedShaders& packed, const std::string& log, bool vertex)
{
    if (log.find("0:1(") == std::string::npos) return browserLog(packed, log, vertex);
    std::string out;
    size_t at = 0;
    while (at < log.size()) {
        const size_t marker = log.find("0:1(", at);
        if (marker == std::string::npos) break;
        const size_t close = log.find(')', marker);
        if (close == std::string::npos) break;
        out += log.substr(at, marker - at);
        const size_t column = size_t(std::strtoul(log.c_str() + marker + 4, nullptr, 10));
        const std::string where = readableLocation(packed, column > 0 ? column - 1 : 0, vertex);
        out += where.empty() ? log.substr(marker, close + 1 - marker) : where;
        at = close + 1;
    }
    return out + log.substr(at);
}

struct ReadablePrograms {
    // Whether the schedule's values reach the programs through a uniform.
    bool scheduleUniforms = false;
    bool trackUniforms = false;
    bool forWebGl = false;
    // The packed text of the set whose other programs are still to build, to
    // name a failure of theirs by its readable lines.
    PackedShaders lazilyBuilt;
    // The programs' texts of the last set-up that succeeded (none before the first).
    std::string vertexInUse, specialisedInUse[PROGRAM_VARIANTS];
};

ReadablePrograms* createReadablePrograms(bool scheduleAsUniforms, bool tracksAsUniforms, bool forWebGl)
{
    auto* readable = new ReadablePrograms;
    readable->scheduleUniforms = scheduleAsUniforms;
    readable->trackUniforms = tracksAsUniforms;
    readable->forWebGl = forWebGl;
    return readable;
}

void destroyReadablePrograms(ReadablePrograms* readable)
{
    delete readable;
}

// Whether `packed` holds the very texts that the programs in use were built from.
static bool sameAsInUse(const ReadablePrograms& r, const PackedShaders& packed)
{
    return !r.vertexInUse.empty() && packed.vertex == r.vertexInUse &&
        std::equal(std::begin(packed.specialised), std::end(packed.specialised), std::begin(r.specialisedInUse));
}

static void rememberInUse(ReadablePrograms& r, const PackedShaders& packed)
{
    r.vertexInUse = packed.vertex;
    std::copy(std::begin(packed.specialised), std::end(packed.specialised), std::begin(r.specialisedInUse));
}

// The driver's log is about the edit, not the driver: the log alone, its
// places turned into the readable files' lines.
static void nameReadableLines(const PackedShaders& packed, std::string* error)
{
    if (const size_t log = error->find(":\n"); log != std::string::npos)
        *error = readableLog(packed, error->substr(log + 2), error->find("vertex shader") < log);
}

bool useReadablePrograms(ReadablePrograms& r, Renderer& renderer, const ShaderSources& sources,
                         const ScheduleValues& schedule, int width, int height, std::string* error,
                         const int64_t* framePositionMs)
{
    PackedShaders packed;
    std::set<std::string> all;
    for (const std::string& name : optimisationNames()) all.insert(name);
    if (!packShaders(sources, all, width, height, r.forWebGl,
                     PackSchedule{&schedule, r.scheduleUniforms, r.trackUniforms}, packed, error))
        return false;
    if (r.forWebGl)
        for (std::string& text : packed.specialised) text = ES_FRAGMENT_PREFIX + text;
    // An edit of comments or spacing, or of schedule values the shader does
    // not use, packs to the very same programs: nothing to build. The lines
    // may have moved, so a later failure is named by the new text.
    if (framePositionMs && sameAsInUse(r, packed)) {
        r.lazilyBuilt = std::move(packed);
        return true;
    }
    const char* programs[PROGRAM_VARIANTS];
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) programs[mask] = packed.specialised[mask].c_str();
    if (useProgramSources(renderer, packed.vertex.c_str(), programs, schedule, framePositionMs, error)) {
        rememberInUse(r, packed);
        if (framePositionMs) r.lazilyBuilt = std::move(packed);
        return true;
    }
    // The readable lines come from the complete shader's text: a whole
    // set-up, which fails too and leaves the renderer as it was, reports
    // against it.
    if (framePositionMs) {
        error->clear();
        if (useProgramSources(renderer, packed.vertex.c_str(), programs, schedule, nullptr, error)) {
            rememberInUse(r, packed);
            return true;
        }
    }
    nameReadableLines(packed, error);
    return false;
}

bool finishReadablePrograms(ReadablePrograms& r, Renderer& renderer, std::string* error)
{
    // A frame may already have needed one of them, and the driver rejected it.
    *error = takeRendererFailure(renderer);
    if (error->empty() && buildPendingPrograms(renderer, error)) return true;
    nameReadableLines(r.lazilyBuilt, error);
    return false;
}

// A folder with the show's readable shaders in it.
static bool hasShaders(const std::string& folder)
{
    return !folder.empty() && std::filesystem::is_regular_file(folder + "/main.glsl");
}

// The longest line the build tree's marker holds: a folder's path.
static constexpr size_t MARKER_MAX_BYTES = 4096;

// The source tree's shader folder that a build tree names in its marker
// file, in the program's folder or the one above it (the tools' folder sits
// in the build tree); "" outside a build tree.
static std::string sourceShaderFolder(const std::string& program)
{
    for (const char* up : {"/", "/../"}) {
        std::ifstream marker(program + up + VANTROP_SOURCE_SHADERS_MARKER);
        std::string folder;
        if (marker && std::getline(marker, folder) && folder.size() < MARKER_MAX_BYTES) return folder;
    }
    return "";
}

std::string installedShaderFolder()
{
    const std::string program = programFolder();
    return program.empty()
        ? ""
        : std::filesystem::path(program + "/" + VANTROP_SHADERS_FROM_PROGRAM).lexically_normal().string();
}

std::string defaultShaderFolder(std::string* looked)
{
    const std::string program = programFolder();
    if (program.empty()) {
        *looked = "the program's own folder, which the system did not tell";
        return "";
    }
    const std::string installed = installedShaderFolder();
    const std::string source = sourceShaderFolder(program);
    *looked = installed + (source.empty() ? std::string() : " and " + source);
    if (hasShaders(installed)) return installed;
    return hasShaders(source) ? source : "";
}
