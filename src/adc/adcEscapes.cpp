#include "adc/adcEscapes.h"

std::string adcEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        switch (c) {
        case ' ':
            escaped += "\\s";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\\':
            escaped += "\\\\";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
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
