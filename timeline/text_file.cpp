#include "timeline/text_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

// A UTF-8 byte-order mark, which some editors put at the start of a text file.
static constexpr char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

bool readSmallTextFile(const std::string& path, const std::string& what, long maxBytes, std::string& text,
                       std::string* error)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        *error = "cannot read " + what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = "cannot read " + what + " " + path + ": it is not a regular file";
        return false;
    }
    if (info.st_size > maxBytes) {
        *error = what + " " + path + " is larger than " + std::to_string(maxBytes / 1024) + " KiB; it is not one";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    if (!in) {
        *error = "cannot read " + what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    text = whole.str();
    // The mark tells the encoding; it is not part of the first line.
    if (text.rfind(BYTE_ORDER_MARK, 0) == 0) text.erase(0, sizeof BYTE_ORDER_MARK - 1);
    return true;
}

std::string trimmedText(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

std::string shownText(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(byte));
        out += escaped;
    }
    return out;
}

std::string fileLine(const std::string& path, int line)
{
    return path + ":" + std::to_string(line) + ": ";
}

bool readNumber(const std::string& text, double& value)
{
    // Read as a double, so that a value a float cannot hold is told as out of range, not as no number.
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    const bool overflow = errno == ERANGE && std::isinf(value);
    return !text.empty() && *end == '\0' && !std::isnan(value) && (!std::isinf(value) || overflow);
}
