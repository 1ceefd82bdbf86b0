#include "timeline/schedule_file.h"

#include "timeline/text_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

// Every name a file gives, with where its value lives.
struct ScheduleField {
    const char* name;
    float ScheduleValues::*value;
};
#define VANTROP_SCHEDULE_FIELD(name, value) {#name, &ScheduleValues::name},
static const ScheduleField FIELDS[] = {{"SECONDS_PER_BEAT", &ScheduleValues::SECONDS_PER_BEAT},
                                       VANTROP_SCHEDULE(VANTROP_SCHEDULE_FIELD)};
#undef VANTROP_SCHEDULE_FIELD
static constexpr size_t FIELD_COUNT = std::size(FIELDS);

// Curves that rise at the first name and fall by the second: the second must come later.
static const char* const ORDERED[][2] = {
    {"INTRO_BARS_START_BEAT", "INTRO_BARS_END_BEAT"},
    {"FIRST_SHAKE_START_BEAT", "FIRST_SHAKE_END_BEAT"},
    {"FIRST_HIT_BEAT", "LAST_HIT_BEAT"},
    {"FLASHES_START_BEAT", "FLASHES_END_BEAT"},
    {"WARP_DIP_START_BEAT", "WARP_DIP_END_BEAT"},
    {"WARP_SWELL_START_BEAT", "WARP_SWELL_END_BEAT"},
    {"GLITCH_START_BEAT", "GLITCH_END_BEAT"},
    {"SECOND_SHAKE_START_BEAT", "SECOND_SHAKE_END_BEAT"},
    {"FINALE_START_BEAT", "FINALE_FULL_BEAT"},
    {"FADE_OUT_START_BEAT", "FADE_OUT_END_BEAT"},
};
// Rates per beat, which must be above zero.
static const char* const RATES[] = {"FADE_IN_RATE", "FADE_OUT_RATE"};
// The beat's length, seconds: 1200 to 12 beats a minute. A shorter beat puts
// thousands of beats in a second, which no music has and no grid can draw.
static constexpr float MIN_SECONDS_PER_BEAT = 0.05f, MAX_SECONDS_PER_BEAT = 5.0f;
// The fastest fade, per beat: over a thousandth of a beat.
static constexpr float MAX_RATE_PER_BEAT = 1000.0f;

static size_t fieldIndex(const std::string& name)
{
    for (size_t i = 0; i < FIELD_COUNT; ++i)
        if (name == FIELDS[i].name) return i;
    return FIELD_COUNT;
}

std::string exactDecimal(float value)
{
    // A float's exact value has at most 149 decimals; every float reads back
    // from far fewer, and 60 cover all but the very smallest.
    static constexpr int MOST_DECIMALS = 60;
    char text[512];
    for (int decimals = 0; decimals <= MOST_DECIMALS; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, double(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    return text;
}

std::string scheduleText(const ScheduleValues& values)
{
    std::string text =
        "# The vantrop show's schedule: NAME = value, one a line, every name once.\n"
        "# Values are beats, counted from 0 at the start of the music, unless the\n"
        "# name says otherwise (SECONDS_PER_BEAT, the rates per beat). Give the file\n"
        "# with --schedule FILE to vantrop, vantrop-studio or vantrop-render.\n";
    for (const ScheduleField& field : FIELDS)
        text += std::string(field.name) + " = " + exactDecimal(values.*field.value) + "\n";
    return text;
}

// Why `value`, the number given for field `name`, is not allowed: "" when it is.
static std::string rangeFault(const std::string& name, double value, const std::string& text)
{
    if (name == "SECONDS_PER_BEAT") {
        if (value >= MIN_SECONDS_PER_BEAT && value <= MAX_SECONDS_PER_BEAT) return "";
        return name + " must be from " + exactDecimal(MIN_SECONDS_PER_BEAT) + " to " +
            exactDecimal(MAX_SECONDS_PER_BEAT) + " seconds (" + std::to_string(int(60.0f / MIN_SECONDS_PER_BEAT)) +
            " to " + std::to_string(int(60.0f / MAX_SECONDS_PER_BEAT)) + " beats a minute), not " + text;
    }
    if (std::find(std::begin(RATES), std::end(RATES), name) != std::end(RATES)) {
        if (value > 0.0 && float(value) > 0.0f && value <= MAX_RATE_PER_BEAT) return "";
        return name + " must be above 0 and at most " + exactDecimal(MAX_RATE_PER_BEAT) + " per beat, not " + text;
    }
    if (value >= 0.0 && value <= LATEST_BEAT) return "";
    return name + " must be a beat from 0 to " + exactDecimal(LATEST_BEAT) + ", not " + text;
}

bool parseSchedule(const std::string& text, const std::string& path, ScheduleValues& out, std::string* error)
{
    ScheduleValues values;
    std::vector<int> lineOf(FIELD_COUNT, 0);
    // The mark tells the encoding; it is not part of the first name.
    static constexpr char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
    const bool marked = text.rfind(BYTE_ORDER_MARK, 0) == 0;
    std::istringstream lines(marked ? text.substr(std::size(BYTE_ORDER_MARK) - 1) : text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = trimmedText(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *error = fileLine(path, number) + "expected NAME = value, found '" + shownText(line) + "'";
            return false;
        }
        const std::string name = trimmedText(line.substr(0, equals)), value = trimmedText(line.substr(equals + 1));
        const size_t index = fieldIndex(name);
        if (index == FIELD_COUNT) {
            *error = fileLine(path, number) + "unknown name '" + shownText(name) +
                "' (vantrop-render schedule prints every name the show knows)";
            return false;
        }
        if (lineOf[index]) {
            *error =
                fileLine(path, number) + name + " is given twice (first on line " + std::to_string(lineOf[index]) + ")";
            return false;
        }
        double parsed = 0;
        if (!readNumber(value, parsed)) {
            *error = fileLine(path, number) + "the value of " + name + " is not a number: '" + shownText(value) +
                "' (give a decimal number such as 37 or 0.125)";
            return false;
        }
        if (const std::string fault = rangeFault(name, parsed, value); !fault.empty()) {
            *error = fileLine(path, number) + fault;
            return false;
        }
        values.*FIELDS[index].value = float(parsed);
        lineOf[index] = number;
    }
    for (size_t i = 0; i < FIELD_COUNT; ++i)
        if (!lineOf[i]) {
            *error = path + ": " + FIELDS[i].name + " is missing (every name must be given once; " +
                "vantrop-render schedule prints them all)";
            return false;
        }
    for (const auto& pair : ORDERED) {
        const size_t rise = fieldIndex(pair[0]), fall = fieldIndex(pair[1]);
        if (values.*FIELDS[fall].value <= values.*FIELDS[rise].value) {
            *error = fileLine(path, std::max(lineOf[rise], lineOf[fall])) + pair[1] + " (" +
                exactDecimal(values.*FIELDS[fall].value) + ") must come after " + pair[0] + " (" +
                exactDecimal(values.*FIELDS[rise].value) + ")";
            return false;
        }
    }
    out = values;
    return true;
}

bool readScheduleFile(const std::string& path, ScheduleValues& out, std::string* error)
{
    std::string text;
    return readSmallTextFile(path, "the schedule file", SCHEDULE_FILE_MAX_BYTES, text, error) &&
        parseSchedule(text, path, out, error);
}
