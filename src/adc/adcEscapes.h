// ADC's one escape scheme, for every parameter: "\s" a space, "\n" a
// newline, "\\" a backslash. Any other escape makes the message invalid.
#pragma once

#include <string>
#include <string_view>

// text as one parameter: no space or newline left.
std::string adcEscape(std::string_view text);
// The size of adcEscape(text), without writing it.
std::size_t adcEscapedSize(std::string_view text);
// A parameter as text; false, out then undefined, on an unknown escape or
// a lone backslash at the end, which make the whole message invalid.
bool adcUnescape(std::string_view parameter, std::string& out);
