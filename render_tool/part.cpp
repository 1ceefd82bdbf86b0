#include "render_tool/part.h"

#include "timeline/schedule_file.h"
#include "timeline/track_file.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>

// The first word of a tag, and the version of its layout.
static constexpr const char* TAG_WORD = "vantrop-part-1";

bool parsePartSpec(const std::string& text, PartTag& tag, std::string* error)
{
    unsigned index = 0, count = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%u/%u%c", &index, &count, &rest) != 2 || index < 1 || index > count ||
        count > MAX_PARTS || text.find_first_not_of("0123456789/") != std::string::npos) {
        *error = "bad --part '" + text + "': give K/N, part K of N, with 1 <= K <= N <= " + std::to_string(MAX_PARTS) +
            " (for example 2/8)";
        return false;
    }
    tag.index = index;
    tag.count = count;
    return true;
}

void choosePartFrames(PartTag& tag, uint32_t exportFrames)
{
    const auto start = [&](uint64_t k) { return uint32_t(k * exportFrames / tag.count); };
    tag.firstFrame = start(tag.index - 1);
    tag.frames = start(tag.index) - tag.firstFrame;
}

// FNV-1a, 64 bits, as hexadecimal: enough to tell two exports' sources apart.
static std::string digest(const std::string& text)
{
    uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3u;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, hash);
    return hex;
}

void digestDrawingSources(const Offline& offline, PartTag& tag)
{
    const ShaderSources& s = offline.folderSources;
    std::string shaders = offline.shaderFolder.empty() ? "built-in" : s.vertex + '\0' + s.main;
    for (const std::string& function : s.functions) shaders += '\0' + function;
    tag.shaders = digest(shaders);
    tag.schedule = digest(scheduleText(offline.schedule));
    tag.tracks = digest(tracksText(offline.tracks));
}

std::string partTagText(const PartTag& t)
{
    std::ostringstream out;
    out << TAG_WORD << ' ' << t.index << ' ' << t.count << ' ' << t.firstFrame << ' ' << t.frames << ' ' << t.width
        << ' ' << t.height << ' ' << t.fps << ' ' << t.fromMs << ' ' << t.toMs << ' ' << t.shaders << ' ' << t.schedule
        << ' ' << t.tracks;
    return out.str();
}

bool parsePartTag(const std::string& text, PartTag& t)
{
    std::istringstream in(text);
    std::string word, more;
    in >> word >> t.index >> t.count >> t.firstFrame >> t.frames >> t.width >> t.height >> t.fps >> t.fromMs >>
        t.toMs >> t.shaders >> t.schedule >> t.tracks;
    return in && word == TAG_WORD && !(in >> more) && t.index >= 1 && t.index <= t.count && t.count <= MAX_PARTS;
}

std::string partMismatch(const PartTag& a, const PartTag& b)
{
    const auto differs = [](const std::string& what, const auto& mine, const auto& theirs) {
        std::ostringstream out;
        out << "its " << what << " is " << theirs << ", the first part's " << mine;
        return out.str();
    };
    if (a.count != b.count) return differs("number of parts", a.count, b.count);
    if (a.width != b.width || a.height != b.height)
        return differs("size", std::to_string(a.width) + "x" + std::to_string(a.height),
                       std::to_string(b.width) + "x" + std::to_string(b.height));
    if (a.fps != b.fps) return differs("frame rate", a.fps, b.fps);
    if (a.fromMs != b.fromMs) return differs("--from", a.fromMs, b.fromMs);
    if (a.toMs != b.toMs) return differs("--to", a.toMs, b.toMs);
    if (a.shaders != b.shaders) return "it was drawn with other shaders";
    if (a.schedule != b.schedule) return "it was drawn with another schedule";
    if (a.tracks != b.tracks) return "it was drawn with other tracks";
    return "";
}
