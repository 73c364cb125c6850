// NMDC's character references, in one table for both kinds of text. The
// hub's commands escape only the '|' that would end them, and are read back
// with "&#124;" and "&#36;"; main-chat text is written as DC clients write
// it: '$', '|' and an '&' that would otherwise start a reference.
#pragma once

#include <string>
#include <string_view>

enum class NmdcText { Command, Chat };

// text as it goes on the wire.
std::string escapeNmdc(std::string_view text, NmdcText kind);
// The wire's text back as it was meant, in one pass.
std::string unescapeNmdc(std::string_view text, NmdcText kind);
// escapeNmdc(text, kind).size(), without writing it.
std::size_t escapedNmdcSize(std::string_view text, NmdcText kind);
// True when escapeNmdc would change text.
bool needsNmdcEscapes(std::string_view text, NmdcText kind);
