// UTF-8 as IRC servers that enforce it read it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// True when text is well-formed UTF-8: no stray continuation bytes, no
// truncated or overlong sequences, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// The longest prefix of text of at most maxBytes that does not end inside a
// UTF-8 character.
std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

// The length of the UTF-8 character text begins with: 1 for a byte that
// starts none, never more than text holds.
std::size_t utf8CharacterLength(std::string_view text);

// text as valid UTF-8: text itself when it is, else text read as CP1252
// (Windows Western, which IRC clients that do not write UTF-8 use far more
// than any other), its five unassigned bytes as U+FFFD. The view points
// into text or into storage.
std::string_view readAsUtf8(std::string_view text, std::string& storage);
