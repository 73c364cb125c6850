// Switch settings: "yes" or "no", as operators write them.
#pragma once

#include <optional>
#include <string_view>

// yes/no, true/false, on/off and 1/0 in any case; nothing for other text.
std::optional<bool> parseYesNo(std::string_view text);
