// Build-time tool: turns the readable GLSL files into the compact single-line
// string constants that the program hands to the driver, with the show's
// resolution and schedule compiled in, and writes the same text to files for
// validation. It is the one reader of the optimisation markers: the build and
// scripts/bench-optimisations.sh both ask it for their variants.
#include "timeline/schedule.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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
// Features that specialised programs may leave out, in the bit order of
// their index (FEATURE_GLITCH = 1, FEATURE_FINALE = 2 in render/renderer.h):
//   // @only FEATURE       lines only the programs with FEATURE keep
//   // @end
// Each guards code whose `if` is never taken while its parameter is 0, so a
// program without it draws the same picture wherever the renderer picks it.
static const char* const FEATURES[] = {"glitch", "finale"};
static constexpr int PROGRAM_VARIANTS = 1 << (sizeof FEATURES / sizeof FEATURES[0]);
static const char* const MARKER = "// @";

struct Schedule {
    const char* name;
    float value;
};
#define VANTROP_SCHEDULE_ENTRY(name, value) {#name, value},
static const Schedule SCHEDULE[] = {VANTROP_SCHEDULE(VANTROP_SCHEDULE_ENTRY)};
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

// Keeps the lines of the variant with `enabled` switched on; false (with a
// message naming the file and line) on a marker that is unknown, misspelt or
// out of order.
static bool selectVariant(const std::string& src, const char* path, const std::set<std::string>& enabled,
                          const std::set<std::string>& features, std::string& out)
{
    std::istringstream in(src);
    std::string line, open; // the optimisation of the open block, if any
    bool keep = true, fastSeen = false;
    int number = 0, openedAt = 0;
    auto fail = [&](const std::string& message) {
        std::fprintf(stderr, "%s:%d: %s\n", path, number, message.c_str());
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        const std::string text = trimmed(line);
        if (text.compare(0, std::strlen(MARKER), MARKER) != 0) {
            if (line.find(MARKER) != std::string::npos)
                return fail("a variant marker must stand on a line of its own: " + text);
            if (keep) out += line + "\n";
            continue;
        }
        std::istringstream words(text.substr(std::strlen(MARKER)));
        std::string kind, name, extra;
        words >> kind >> name >> extra;
        if (!extra.empty()) return fail("unexpected text after the marker: " + text);
        if (kind == "end" && name.empty()) {
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
                        "' (use // @fast NAME, // @baseline NAME, // @only FEATURE, // @end)");
        }
    }
    if (!open.empty()) {
        number = openedAt;
        return fail("the block of " + open + " is never ended with // @end");
    }
    return true;
}

// The shortest decimal float literal, with at least one digit after the
// point, that reads back as exactly this value: 10.0, 0.125.
static std::string floatLiteral(float value)
{
    char text[64];
    for (int decimals = 1; decimals <= 40; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, double(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    return text;
}

static bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Writes the schedule's values in place of their names, whole words only.
static std::string substituteSchedule(std::string text)
{
    for (const Schedule& entry : SCHEDULE) {
        const std::string name = entry.name, literal = floatLiteral(entry.value);
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
            const bool whole = (at == 0 || !isNameChar(text[at - 1])) &&
                (at + name.size() == text.size() || !isNameChar(text[at + name.size()]));
            if (!whole) {
                at += name.size();
                continue;
            }
            text.replace(at, name.size(), literal);
            at += literal.size();
        }
    }
    return text;
}

static bool readFile(const char* path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

static bool isWordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

// Drops comments and every space that does not separate two words or numbers.
static bool minify(const std::string& src, const char* path, std::string& out)
{
    bool pendingSpace = false;
    for (size_t i = 0; i < src.size(); ++i) {
        const char c = src[i];
        if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
            while (i < src.size() && src[i] != '\n') ++i;
            pendingSpace = true;
        } else if (c == '/' && i + 1 < src.size() && src[i + 1] == '*') {
            const size_t end = src.find("*/", i + 2);
            if (end == std::string::npos) {
                std::fprintf(stderr, "%s: unterminated /* comment\n", path);
                return false;
            }
            i = end + 1;
            pendingSpace = true;
        } else if (c == '#') {
            std::fprintf(stderr, "%s: preprocessor lines cannot live in a single-line shader\n", path);
            return false;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            pendingSpace = true;
        } else {
            if (pendingSpace && !out.empty() && isWordChar(out.back()) && isWordChar(c)) out += ' ';
            pendingSpace = false;
            out += c;
        }
    }
    return true;
}

static std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

static std::string cString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

static bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out);
}

static const char* const USAGE =
    "usage: glsl_pack --enable all|none|NAME[,NAME...] [--baseline-names] OUT.cpp OUT_DIR WIDTH HEIGHT VERTEX.glsl\n"
    "                 MAIN.glsl FUNCTIONS.glsl...\n"
    "       glsl_pack --list\n"
    "Writes OUT.cpp (the string constants; BASELINE_ names with --baseline-names),\n"
    "OUT_DIR/vertex.vert and OUT_DIR/fragment.frag. --list prints the optimisations.\n";

static bool parseEnabled(const std::string& list, std::set<std::string>& enabled)
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
            std::fprintf(stderr, "glsl_pack: unknown optimisation '%s' in --enable (known: %s)\n", name.c_str(),
                         knownList().c_str());
            return false;
        }
        enabled.insert(name);
    }
    return !enabled.empty();
}

static bool packFile(const char* path, const std::set<std::string>& enabled, const std::set<std::string>& features,
                     std::string& out)
{
    std::string text, selected;
    if (!readFile(path, text)) {
        std::fprintf(stderr, "glsl_pack: cannot read %s\n", path);
        return false;
    }
    return selectVariant(text, path, enabled, features, selected) && minify(selected, path, out);
}

// The fragment shader's functions and main for the programs with these features.
static bool packFragment(char** paths, int count, const std::set<std::string>& enabled,
                         const std::set<std::string>& features, const std::string& literal, std::string& functions,
                         std::string& mainPart)
{
    if (!packFile(paths[0], enabled, features, mainPart)) return false;
    for (int i = 1; i < count; ++i) {
        std::string part;
        if (!packFile(paths[i], enabled, features, part)) return false;
        functions += part;
    }
    functions = substituteSchedule(replaceAll(functions, RESOLUTION_TOKEN, literal));
    mainPart = substituteSchedule(replaceAll(mainPart, RESOLUTION_TOKEN, literal));
    return true;
}

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const char* name : OPTIMISATIONS) std::puts(name);
        return 0;
    }
    std::set<std::string> enabled;
    if (argc < 3 || std::string(argv[1]) != "--enable" || !parseEnabled(argv[2], enabled)) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    argv += 2;
    argc -= 2;
    const bool baselineNames = argc > 1 && std::string(argv[1]) == "--baseline-names";
    if (baselineNames) {
        ++argv;
        --argc;
    }
    if (argc < 8) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    const std::string outCpp = argv[1], outDir = argv[2];
    const std::string literal = std::string("vec2(") + argv[3] + ".," + argv[4] + ".)";

    const std::set<std::string> allFeatures(std::begin(FEATURES), std::end(FEATURES));
    std::string vertex, mainPart, functions;
    if (!packFile(argv[5], enabled, allFeatures, vertex) ||
        !packFragment(argv + 6, argc - 6, enabled, allFeatures, literal, functions, mainPart))
        return 1;
    // The specialised programs, indexed by the features they keep.
    std::string specialised[PROGRAM_VARIANTS];
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) {
        std::set<std::string> features;
        for (size_t bit = 0; bit < std::size(FEATURES); ++bit)
            if (mask & (1 << bit)) features.insert(FEATURES[bit]);
        std::string f, m;
        if (!packFragment(argv + 6, argc - 6, enabled, features, literal, f, m)) return 1;
        specialised[mask] = f + m;
    }

    std::ostringstream cpp;
    cpp << "// Generated by glsl_pack from the files in shaders/; edit those instead.\n";
    if (baselineNames) {
        // The reference the targets are set against: the baseline with the
        // march exit that any straightforward shader has.
        std::string referenceFunctions, referenceMain;
        if (!packFragment(argv + 6, argc - 6, {"march"}, allFeatures, literal, referenceFunctions, referenceMain))
            return 1;
        cpp << "#include \"shaders/baseline_sources.h\"\n\n"
            << "const char BASELINE_FRAGMENT_FUNCTIONS[] = " << cString(functions) << ";\n"
            << "const char BASELINE_FRAGMENT_SOURCE[] = " << cString(functions + mainPart) << ";\n"
            << "const char REFERENCE_FRAGMENT_SOURCE[] = " << cString(referenceFunctions + referenceMain) << ";\n";
    } else {
        cpp << "#include \"shaders/shader_sources.h\"\n\n"
            << "const char VERTEX_SOURCE[] = " << cString(vertex) << ";\n"
            << "const char FRAGMENT_FUNCTIONS[] = " << cString(functions) << ";\n"
            << "const char FRAGMENT_SOURCE[] = " << cString(functions + mainPart) << ";\n"
            << "const char SHOW_RESOLUTION_LITERAL[] = " << cString(literal) << ";\n";
        for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask)
            cpp << "static const char SPECIALISED_" << mask << "[] = " << cString(specialised[mask]) << ";\n";
        cpp << "const char* const FRAGMENT_SPECIALISED[" << PROGRAM_VARIANTS << "] = {";
        for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) cpp << (mask ? ", " : "") << "SPECIALISED_" << mask;
        cpp << "};\n";
    }
    bool written = writeFile(outCpp, cpp.str()) && writeFile(outDir + "/vertex.vert", vertex + "\n") &&
        writeFile(outDir + "/fragment.frag", functions + mainPart + "\n");
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask)
        written =
            written && writeFile(outDir + "/specialised" + std::to_string(mask) + ".frag", specialised[mask] + "\n");
    if (!written) {
        std::fprintf(stderr, "glsl_pack: cannot write %s or %s\n", outCpp.c_str(), outDir.c_str());
        return 1;
    }
    return 0;
}
