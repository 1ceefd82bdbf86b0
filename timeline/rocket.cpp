#include "timeline/rocket.h"

#include "timeline/schedule_file.h"
#include "timeline/text_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// The five entities of XML, in and out.
static const char* const ENTITIES[][2] = {
    {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};

static std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const char* entity = nullptr;
        for (const auto& pair : ENTITIES)
            if (c == pair[1][0]) entity = pair[0];
        out += entity ? std::string(entity) : std::string(1, c);
    }
    return out;
}

static std::string unescaped(const std::string& text)
{
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        bool replaced = false;
        for (const auto& pair : ENTITIES)
            if (text.compare(at, std::strlen(pair[0]), pair[0]) == 0) {
                out += pair[1];
                at += std::strlen(pair[0]) - 1;
                replaced = true;
                break;
            }
        if (!replaced) out += text[at];
    }
    return out;
}

// The value of attribute `name` in a tag's text; false when it has none.
static bool attribute(const std::string& tag, const char* name, std::string& value)
{
    const std::string key = std::string(" ") + name + "=";
    size_t at = 0;
    for (;;) {
        at = tag.find(key, at);
        if (at == std::string::npos) return false;
        const size_t open = at + key.size();
        if (open < tag.size() && (tag[open] == '"' || tag[open] == '\'')) {
            const size_t close = tag.find(tag[open], open + 1);
            if (close == std::string::npos) return false;
            value = unescaped(tag.substr(open + 1, close - open - 1));
            return true;
        }
        at = open;
    }
}

// One <key .../>: false with *fault.
static bool readKey(const std::string& tag, int rowsPerBeat, TrackKey& key, long& row, std::string& fault)
{
    std::string rowText, valueText, kindText;
    if (!attribute(tag, "row", rowText) || !attribute(tag, "value", valueText) ||
        !attribute(tag, "interpolation", kindText)) {
        fault = "a key without its row, value and interpolation: " + shownText(tag);
        return false;
    }
    double number = 0, kind = 0;
    if (!readNumber(rowText, number) || number < 0 || number != std::floor(number) ||
        number / rowsPerBeat > LATEST_BEAT) {
        fault = "the row must be a whole number from 0 to " + std::to_string(long(LATEST_BEAT) * rowsPerBeat) +
            ", not '" + shownText(rowText) + "'";
        return false;
    }
    row = long(number);
    key.beat = float(double(row) / rowsPerBeat);
    if (!readNumber(valueText, number) || !std::isfinite(float(number))) {
        fault = "the value must be a finite number, not '" + shownText(valueText) + "'";
        return false;
    }
    key.value = float(number);
    if (!readNumber(kindText, kind) || kind != std::floor(kind) || kind < 0 || kind >= INTERPOLATION_COUNT) {
        fault =
            "the interpolation must be 0 (step), 1 (linear), 2 (smooth) or 3 (ramp), not '" + shownText(kindText) + "'";
        return false;
    }
    key.interpolation = Interpolation(int(kind));
    return true;
}

bool parseRocketXml(const std::string& xml, const std::string& path, int rowsPerBeat, const Tracks& declared,
                    Tracks& out, std::string* error)
{
    Tracks tracks = declared;
    for (Track& track : tracks) track.keys.clear();
    std::vector<std::vector<long>> rows(tracks.size());
    int current = -1;
    for (size_t open = xml.find('<'); open != std::string::npos; open = xml.find('<', open + 1)) {
        const size_t close = xml.find('>', open);
        const int line = 1 + int(std::count(xml.begin(), xml.begin() + long(open), '\n'));
        std::string tag = xml.substr(open, close == std::string::npos ? std::string::npos : close - open);
        std::replace_if(
            tag.begin(), tag.end(), [](char c) { return c == '\n' || c == '\t' || c == '\r'; }, ' ');
        std::string fault, name;
        if (close == std::string::npos) {
            fault = "a tag is never closed";
        } else if (tag.rfind("<track ", 0) == 0) {
            current = attribute(tag, "name", name) ? trackIndex(tracks, name) : -2;
            if (current == -2)
                fault = "a track without a name";
            else if (current < 0)
                fault = "track '" + shownText(name) + "' is not declared by the shaders";
            else if (!tracks[size_t(current)].keys.empty())
                fault = "track " + name + " is given twice";
        } else if (tag.rfind("</track", 0) == 0) {
            current = -1;
        } else if (tag.rfind("<key ", 0) == 0) {
            TrackKey key;
            long row = 0;
            if (current < 0)
                fault = "a key outside a track";
            else if (readKey(tag, rowsPerBeat, key, row, fault)) {
                std::vector<long>& seen = rows[size_t(current)];
                if (std::find(seen.begin(), seen.end(), row) != seen.end())
                    fault = "two keys on row " + std::to_string(row) + " of track " + tracks[size_t(current)].name;
                else {
                    seen.push_back(row);
                    insertKey(tracks[size_t(current)], key);
                }
            }
        }
        if (!fault.empty()) {
            *error = fileLine(path, line) + fault;
            return false;
        }
    }
    out = std::move(tracks);
    return true;
}

bool rocketXml(const Tracks& tracks, int rowsPerBeat, int rows, std::string& xml, std::string* error)
{
    std::string body;
    for (const Track& track : tracks) {
        if (track.keys.empty()) continue;
        body += "\t<track name=\"" + escaped(track.name) + "\">\n";
        for (const TrackKey& key : track.keys) {
            const double row = double(key.beat) * rowsPerBeat;
            if (row != std::floor(row) || float(row / rowsPerBeat) != key.beat) {
                *error = "track " + track.name + " has a key at beat " + exactDecimal(key.beat) +
                    ", between two rows at " + std::to_string(rowsPerBeat) +
                    " rows a beat; give --rows-per-beat a number that puts it on a row";
                return false;
            }
            rows = std::max(rows, int(row) + 1);
            body += "\t\t<key row=\"" + std::to_string(long(row)) + "\" value=\"" + exactDecimal(key.value) +
                "\" interpolation=\"" + std::to_string(int(key.interpolation)) + "\"/>\n";
        }
        body += "\t</track>\n";
    }
    xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<tracks rows=\"" + std::to_string(rows) + "\">\n" + body +
        "</tracks>\n";
    return true;
}
