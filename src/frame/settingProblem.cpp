#include "frame/settingProblem.h"

#include "frame/printable.h"

std::string settingProblem(const char* key, std::string_view value, std::string_view forbidden,
                           std::size_t maxBytes) {
    const std::size_t bad = value.find_first_of(forbidden);
    if (bad != std::string_view::npos)
        return std::string(key) + " holds \"" + printable(value.substr(bad, 1)) +
               "\", which the protocol does not allow there";
    if (value.size() > maxBytes)
        return std::string(key) + " is " + std::to_string(value.size()) + " bytes long; at most " +
               std::to_string(maxBytes) + " fit";
    return std::string();
}
