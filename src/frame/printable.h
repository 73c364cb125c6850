// Peer text quoted in a log line, made so that it cannot forge or break lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What a peer says is quoted at this length at most: enough for any server's
// reason, and a hostile peer cannot make one log line large.
constexpr std::size_t kMaxQuotedPeerText = 300;

// text with CR and LF written as \r and \n, and every other byte below 0x20
// (tab excepted) and 0x7F as \xNN; longer text is cut after limit bytes and
// marked with "...".
std::string printable(std::string_view text, std::size_t limit = kMaxQuotedPeerText);

// True when text holds a byte that printable would escape.
bool holdsControlBytes(std::string_view text);
