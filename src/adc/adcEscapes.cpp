#include "adc/adcEscapes.h"

namespace {

// What a byte of a parameter is written as when it must be escaped.
const char* escapeOf(char c) {
    switch (c) {
    case ' ':
        return "\\s";
    case '\n':
        return "\\n";
    case '\\':
        return "\\\\";
    default:
        return nullptr;
    }
}

}  // namespace

std::string adcEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        if (const char* escape = escapeOf(c))
            escaped += escape;
        else
            escaped += c;
    }
    return escaped;
}

std::size_t adcEscapedSize(std::string_view text) {
    std::size_t size = text.size();
    for (const char c : text)
        size += escapeOf(c) != nullptr;
    return size;
}

bool adcUnescape(std::string_view parameter, std::string& out) {
    out.clear();
    out.reserve(parameter.size());
    for (std::size_t i = 0; i < parameter.size(); ++i) {
        if (parameter[i] != '\\') {
            out += parameter[i];
            continue;
        }
        if (++i == parameter.size())
            return false;
        switch (parameter[i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            return false;
        }
    }
    return true;
}
