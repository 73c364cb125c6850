// The nick a relayed person speaks under in an IRC channel (draft/relaymsg):
// their nick on the other network, a separator the server lists, a suffix
// that says where they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Whether a nick may hold byte anywhere: not a control byte, nor what
// breaks a command's words, a list, a mask or a prefix.
bool fitsInNick(char byte);

// "carol/dc" for carol: what no nick may hold (above, control bytes) made
// '_', the person's part cut at a character's end so that the whole takes
// at most maxBytes (it keeps at least one character).
std::string relayedNick(std::string_view nick, std::string_view separator, std::string_view suffix,
                        std::size_t maxBytes);
