// Main-chat text on the wire as DC clients write it: '&' where it would
// start one of the escapes, '$' and '|' are written as character references.
#pragma once

#include <string>
#include <string_view>

// '&' before "amp;", "#36;" or "#124;" as "&amp;", then '$' as "&#36;" and
// '|' as "&#124;"; every other byte as it is.
std::string escapeDCChat(std::string_view text);
// "&#36;", "&#124;" and "&amp;" back to '$', '|' and '&', in one pass.
std::string unescapeDCChat(std::string_view text);
