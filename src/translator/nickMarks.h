// How a hub nick reads in the tag of a relayed line on IRC: optionally with
// a zero-width space after its first character, so that IRC clients do not
// take it for the nick of someone in the channel and highlight them; and
// optionally in a colour of its own, so that people are told apart at a
// glance. The nick's text itself is never changed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct NickMarks {
    bool noHighlight = false;
    bool colour = false;
};

// What the marks may add to a nick, at most.
constexpr std::size_t kMaxNickMarkBytes = 3 + 3 + 1;

// The IRC colour (one of the common ones that read on light and dark
// backgrounds) nick always gets.
int nickColour(std::string_view nick);

// out += nick with the marks: "\x03" "NN" nick "\x03" for a colour (two
// digits, so that a nick that begins with a digit stays itself), U+200B
// after the nick's first character (none in a one-character nick).
void appendMarkedNick(std::string& out, std::string_view nick, NickMarks marks);
