#include "frame/settingProblem.h"

#include "frame/printable.h"

std::string settingProblem(std::initializer_list<SettingRule> rules) {
    for (const SettingRule& rule : rules) {
        const std::size_t bad = rule.value.find_first_of(rule.forbidden);
        if (bad != std::string_view::npos)
            return std::string(rule.key) + " holds \"" + printable(rule.value.substr(bad, 1)) +
                   "\", which the protocol does not allow there";
        if (rule.value.size() > rule.maxBytes)
            return std::string(rule.key) + " is " + std::to_string(rule.value.size()) + " bytes long; at most " +
                   std::to_string(rule.maxBytes) + " fit";
    }
    return std::string();
}
