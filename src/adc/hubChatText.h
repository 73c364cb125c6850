// Chat text as an ADC hub relays it. Hubs drop a whole message, without a
// word to the sender, that holds a control byte other than TAB and CR or
// that is not UTF-8, and uhub 0.4 drops one with a character beyond the
// 16-bit plane (emoji); a message beginning with '!' or '+' is taken as a
// command for the hub.
#pragma once

#include <string>
#include <string_view>

// text with those control bytes removed (a newline is kept: it separates
// the lines of a message), every byte that is no UTF-8 and, unless
// fourByteCharacters, every 4-byte character replaced by U+FFFD, and a
// leading '!' or '+' doubled, which hubs read as the character itself.
std::string hubChatText(std::string_view text, bool fourByteCharacters);
