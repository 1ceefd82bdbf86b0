// --help from an option table: the usage line, the description, an aligned
// and wrapped line per option with its default, the epilogue.
#include "cli/options.h"

#include <algorithm>
#include <cstring>

// Labels up to this wide set the help's column; wider ones run on past it.
static constexpr size_t MAX_PADDED_LABEL = 16;
// The help's lines are wrapped to this many columns.
static constexpr size_t HELP_WIDTH = 80;

// The default the help names: the target's value where it is one worth naming.
static std::string defaultText(const Option& o)
{
    if (o.shownDefault) return o.shownDefault;
    switch (o.kind) {
    case OptionKind::Count:
    case OptionKind::Position: return std::to_string(*static_cast<const uint32_t*>(o.target));
    case OptionKind::Number: return numberText(*static_cast<const double*>(o.target));
    case OptionKind::Size: {
        const auto* size = static_cast<const PictureSize*>(o.target);
        return std::to_string(size->width) + "x" + std::to_string(size->height);
    }
    case OptionKind::Text:
    case OptionKind::Choice: return *static_cast<const std::string*>(o.target);
    default: return "";
    }
}

// The column the help texts start in: past the widest label that is not too wide to pad.
static size_t helpColumn(const CommandLine& line)
{
    size_t widest = std::strlen("--version");
    for (const Option& o : line.options) {
        const size_t label = std::strlen(o.name) + (o.kind == OptionKind::Flag ? 0 : 1 + std::strlen(o.value));
        if (*o.name && label <= MAX_PADDED_LABEL) widest = std::max(widest, label);
    }
    return 2 + widest + 2;
}

static void appendOptionLine(std::string& text, size_t column, const std::string& label, const std::string& help)
{
    std::string lead = "  " + label;
    lead += lead.size() + 2 <= column ? std::string(column - lead.size(), ' ') : std::string("  ");
    // The first line starts later where the label runs on.
    std::string body = wrapText(std::string(lead.size() - column, '.') + help, HELP_WIDTH - column);
    body.erase(0, lead.size() - column);
    for (size_t at = 0; (at = body.find('\n', at)) != std::string::npos; at += column + 1)
        body.insert(at + 1, std::string(column, ' '));
    text += lead + body + "\n";
}

std::string commandHelp(const CommandLine& line)
{
    std::string text = std::string("Usage: ") + line.command + " " + line.usage + "\n\n" + line.description;
    const size_t column = helpColumn(line);
    if (!line.options.empty()) text += "\n";
    for (const Option& o : line.options) {
        if (!*o.name) continue;
        std::string label = o.name;
        if (o.kind != OptionKind::Flag) label += std::string(" ") + o.value;
        const std::string shown = defaultText(o);
        const std::string said =
            shown.find(' ') == std::string::npos ? " (default " + shown + ")" : " (default: " + shown + ")";
        appendOptionLine(text, column, label, std::string(o.help) + (shown.empty() ? "" : said));
    }
    appendOptionLine(text, column, "--help", "this text");
    if (!line.version.empty()) appendOptionLine(text, column, "--version", "the program's version");
    if (*line.epilogue) text += std::string("\n") + line.epilogue;
    return text;
}
