// Whether a setting can go on the wire as the protocol needs it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bytes no protocol line may carry inside a value.
constexpr std::string_view kLineBreaksAndNul{"\0\r\n", 3};
// ...and inside a word of a command (a nick, a user name, a password).
constexpr std::string_view kWordBreakers{"\0\r\n ", 4};

// What is wrong with the value of key: it holds a byte of forbidden, or it is
// longer than maxBytes. Empty when nothing is.
std::string settingProblem(const char* key, std::string_view value, std::string_view forbidden,
                           std::size_t maxBytes);
