#include "adc/ADCMessage.h"

namespace {

bool isHeadCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

std::optional<std::string_view> ADCMessage::named(std::string_view code, std::size_t from) const {
    for (std::size_t i = from; i < parameters.size(); ++i)
        if (parameters[i].size() >= 2 && parameters[i].compare(0, 2, code) == 0)
            return parameters[i].substr(2);
    return std::nullopt;
}

bool parseADCMessage(std::string_view line, ADCMessage& out) {
    out.parameters.clear();
    if (line.size() < 4 || (line.size() > 4 && line[4] != ' '))
        return false;
    for (std::size_t i = 0; i < 4; ++i)
        if (!isHeadCharacter(line[i]))
            return false;
    out.head = line.substr(0, 4);
    std::size_t start = 5;
    while (start <= line.size() && line.size() > 4) {
        const std::size_t space = std::min(line.find(' ', start), line.size());
        out.parameters.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    return true;
}

bool isSessionId(std::string_view text) {
    if (text.size() != 4)
        return false;
    for (const char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= '2' && c <= '7')))
            return false;
    return true;
}
