// Whether settings can go on the wire as the protocol needs them.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

// Bytes no protocol line may carry inside a value.
constexpr std::string_view kLineBreaksAndNul{"\0\r\n", 3};
// ...and inside a word of a command (a nick, a user name, a password).
constexpr std::string_view kWordBreakers{"\0\r\n ", 4};

// One setting with what the protocol asks of it.
struct SettingRule {
    const char* key;
    std::string_view value;
    std::string_view forbidden;  // bytes it may not hold
    std::size_t maxBytes;        // its longest length
};

// What is wrong with the first setting that breaks its rule: it holds a
// forbidden byte, or it is too long. Empty when every setting keeps its rule.
std::string settingProblem(std::initializer_list<SettingRule> rules);
