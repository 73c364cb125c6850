// IRC text without its formatting codes, for readers that cannot show them.
#pragma once

#include <string>
#include <string_view>

// text without bold, italics, underline, strikethrough, monospace, reverse
// and reset codes, and without colour codes together with their numbers
// ("\x03" 4,12) or hex values ("\x04" FF0000,00FF00).
std::string stripIRCFormatting(std::string_view text);
// The same, appended to out.
void appendWithoutFormatting(std::string& out, std::string_view text);
