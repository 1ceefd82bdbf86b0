#include "cli/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// How many edits away an unknown option may be to be named as the one meant.
static constexpr size_t NEAR_MISS_EDITS = 2;

static bool isOptionLike(const char* arg)
{
    return arg[0] == '-' && arg[1] != '\0' && !(arg[1] >= '0' && arg[1] <= '9');
}

// How many single-character insertions, removals or changes turn a into b.
static size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

static std::string unknownOption(const CommandLine& line, const std::string& arg)
{
    const Option* nearest = nullptr;
    size_t best = NEAR_MISS_EDITS + 1;
    for (const Option& o : line.options) {
        const size_t d = *o.name ? editDistance(arg, o.name) : best;
        if (d < best) {
            best = d;
            nearest = &o;
        }
    }
    return "unknown option '" + arg + "'" + (nearest ? std::string(" (did you mean ") + nearest->name + "?)" : "");
}

// What the range of a Count or Number allows, for a refusal.
static std::string rangeText(const Option& o)
{
    if (o.aboveMin) return "above " + numberText(o.min) + (o.max < o.min ? "" : ", up to " + numberText(o.max));
    if (o.max < o.min) return numberText(o.min) + " or more";
    return numberText(o.min) + " to " + numberText(o.max);
}

static std::string choicesText(const char* choices)
{
    std::string text = choices;
    const size_t last = text.rfind('|');
    if (last != std::string::npos) text.replace(last, 1, " or ");
    for (size_t bar; (bar = text.find('|')) != std::string::npos;) text.replace(bar, 1, ", ");
    return text;
}

// Takes the value `text` into the option's target; false with *error.
static bool takeValue(const Option& o, const std::string& label, const char* text, std::string* error)
{
    const std::string bad = "bad " + label + " '" + text + "': give ";
    switch (o.kind) {
    case OptionKind::Text:
    case OptionKind::Texts:
        if (o.kind == OptionKind::Text) *static_cast<std::string*>(o.target) = text;
        if (o.kind == OptionKind::Texts && *text) static_cast<std::vector<std::string>*>(o.target)->push_back(text);
        if (!*text) *error = bad + "a name, not an empty one";
        return *text != '\0';
    case OptionKind::Count: {
        uint32_t value = 0;
        const bool ok = parseUint32(text, value) && value >= o.min && (o.max < o.min || value <= o.max);
        if (ok) *static_cast<uint32_t*>(o.target) = value;
        if (!ok) *error = bad + rangeText(o);
        return ok;
    }
    case OptionKind::Number: {
        char* end = nullptr;
        const double value = std::strtod(text, &end);
        const bool ok =
            *text && end && !*end && (o.aboveMin ? value > o.min : value >= o.min) && (o.max < o.min || value <= o.max);
        if (ok) *static_cast<double*>(o.target) = value;
        if (!ok) *error = bad + rangeText(o);
        return ok;
    }
    case OptionKind::Position:
    case OptionKind::Positions: {
        uint32_t ms = 0;
        if (!parsePosition(text, ms)) {
            *error = badPositionMessage(label, text);
            return false;
        }
        if (o.kind == OptionKind::Position)
            *static_cast<uint32_t*>(o.target) = ms;
        else
            static_cast<std::vector<uint32_t>*>(o.target)->push_back(ms);
        return true;
    }
    case OptionKind::Size: {
        auto* size = static_cast<PictureSize*>(o.target);
        return parseSize(text, size->width, size->height, error);
    }
    case OptionKind::Choice: {
        const std::string padded = std::string("|") + o.choices + "|";
        const bool ok =
            *text && !std::strchr(text, '|') && padded.find(std::string("|") + text + "|") != std::string::npos;
        if (ok) *static_cast<std::string*>(o.target) = text;
        if (!ok) *error = bad + choicesText(o.choices);
        return ok;
    }
    case OptionKind::Flag:
    case OptionKind::Span: break;
    }
    return false;
}

// Takes the option at argv[*i] and its values, moving *i past them; false with *error.
static bool takeOption(const Option& o, int argc, char** argv, int* i, std::string* error)
{
    const std::string name = o.name;
    if (o.kind == OptionKind::Flag) {
        *static_cast<bool*>(o.target) = true;
        return true;
    }
    if (o.kind == OptionKind::Span) {
        auto* span = static_cast<PositionSpan*>(o.target);
        const bool ok = *i + 2 < argc && parsePosition(argv[*i + 1], span->fromMs) &&
            parsePosition(argv[*i + 2], span->toMs) && span->fromMs < span->toMs;
        if (!ok) *error = "bad " + name + ": give two positions in milliseconds, the first before the second";
        *i += 2;
        return ok;
    }
    if (o.kind == OptionKind::Positions) {
        const auto* list = static_cast<std::vector<uint32_t>*>(o.target);
        for (; *i + 1 < argc && !isOptionLike(argv[*i + 1]); ++*i)
            if (!takeValue(o, name + " position", argv[*i + 1], error)) return false;
        if (list->empty()) *error = name + " needs positions in whole milliseconds";
        return !list->empty();
    }
    if (*i + 1 >= argc) {
        *error = name + " needs its value, " + o.value;
        return false;
    }
    return takeValue(o, name, argv[++*i], error);
}

// The operand's value (an argument that is not an option); false with *error.
static bool takeOperand(const CommandLine& line, const char* arg, std::string* error)
{
    const auto operand =
        std::find_if(line.options.begin(), line.options.end(), [](const Option& o) { return *o.name == '\0'; });
    if (operand == line.options.end()) {
        *error = std::string("unknown argument '") + arg + "'";
        return false;
    }
    if (operand->kind == OptionKind::Text && operand->given && *operand->given) {
        *error = std::string("give one ") + operand->value;
        return false;
    }
    if (operand->given) *operand->given = true;
    return takeValue(*operand, operand->kind == OptionKind::Positions ? "position" : operand->value, arg, error);
}

static int readArguments(const CommandLine& line, int argc, char** argv)
{
    std::vector<const Option*> seen;
    std::string error;
    for (int i = 0; i < argc; ++i) {
        if (!isOptionLike(argv[i])) {
            if (!takeOperand(line, argv[i], &error)) return usageError(line.command, error);
            continue;
        }
        const std::string arg = argv[i];
        const auto found = std::find_if(line.options.begin(), line.options.end(),
                                        [&](const Option& o) { return *o.name && arg == o.name; });
        if (found == line.options.end()) return usageError(line.command, unknownOption(line, arg));
        if (std::count(seen.begin(), seen.end(), &*found))
            return usageError(line.command, arg + " is given twice; give it once");
        seen.push_back(&*found);
        if (found->given) *found->given = true;
        if (!takeOption(*found, argc, argv, &i, &error)) return usageError(line.command, error);
    }
    for (const Option& o : line.options) {
        if (!o.required || std::count(seen.begin(), seen.end(), &o)) continue;
        if (!*o.name &&
            (o.kind == OptionKind::Positions   ? !static_cast<std::vector<uint32_t>*>(o.target)->empty()
                 : o.kind == OptionKind::Texts ? !static_cast<std::vector<std::string>*>(o.target)->empty()
                                               : o.given && *o.given))
            continue;
        return usageError(line.command,
                          *o.name ? std::string(o.name) + " " + o.value + " is required"
                                  : std::string("give ") + o.value);
    }
    return -1;
}

static Option makeOption(const char* name, const char* value, OptionKind kind, void* target, const char* help)
{
    Option o{};
    o.name = name;
    o.value = value;
    o.kind = kind;
    o.target = target;
    o.help = help;
    return o;
}

Option flagOption(const char* name, bool* target, const char* help)
{
    return makeOption(name, "", OptionKind::Flag, target, help);
}

Option textOption(const char* name, const char* value, std::string* target, const char* help)
{
    return makeOption(name, value, OptionKind::Text, target, help);
}

Option countOption(const char* name, const char* value, uint32_t* target, uint32_t min, uint32_t max, const char* help)
{
    Option o = makeOption(name, value, OptionKind::Count, target, help);
    o.min = min;
    o.max = max;
    return o;
}

Option numberOption(const char* name, const char* value, double* target, double min, double max, const char* help)
{
    Option o = makeOption(name, value, OptionKind::Number, target, help);
    o.min = min;
    o.max = max;
    return o;
}

Option positionOption(const char* name, uint32_t* target, const char* help)
{
    return makeOption(name, "MS", OptionKind::Position, target, help);
}

Option positionsOption(const char* name, const char* value, std::vector<uint32_t>* target, const char* help)
{
    return makeOption(name, value, OptionKind::Positions, target, help);
}

Option textsOption(const char* name, const char* value, std::vector<std::string>* target, const char* help)
{
    return makeOption(name, value, OptionKind::Texts, target, help);
}

Option spanOption(const char* name, const char* value, PositionSpan* target, const char* help)
{
    return makeOption(name, value, OptionKind::Span, target, help);
}

Option sizeOption(const char* name, PictureSize* target, const char* help)
{
    return makeOption(name, "WxH", OptionKind::Size, target, help);
}

Option choiceOption(const char* name, const char* value, std::string* target, const char* choices, const char* help)
{
    Option o = makeOption(name, value, OptionKind::Choice, target, help);
    o.choices = choices;
    return o;
}

Option required(Option option)
{
    option.required = true;
    return option;
}

Option defaultSaid(Option option, const char* words)
{
    option.shownDefault = words;
    return option;
}

Option aboveMin(Option option)
{
    option.aboveMin = true;
    return option;
}

Option noticed(Option option, bool* given)
{
    option.given = given;
    return option;
}

std::string versionLine(const char* program)
{
    return std::string(program) + " " + VANTROP_VERSION;
}

int parseCommandLine(const CommandLine& line, int argc, char** argv)
{
    for (int i = 0; i < argc; ++i) {
        if (isHelp(argv[i])) {
            std::fputs(commandHelp(line).c_str(), stdout);
            return EXIT_DONE;
        }
        if (!line.version.empty() && isVersion(argv[i])) {
            std::printf("%s\n", line.version.c_str());
            return EXIT_DONE;
        }
    }
    return readArguments(line, argc, argv);
}
