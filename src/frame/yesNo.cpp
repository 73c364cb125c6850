#include "frame/yesNo.h"

#include <cctype>
#include <string>

std::optional<bool> parseYesNo(std::string_view text) {
    std::string lower;
    for (const char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "yes" || lower == "true" || lower == "on" || lower == "1")
        return true;
    if (lower == "no" || lower == "false" || lower == "off" || lower == "0")
        return false;
    return std::nullopt;
}
