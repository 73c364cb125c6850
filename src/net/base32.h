// Base32 as RFC 4648 writes it (A-Z, 2-7), without padding: how Direct
// Connect writes hashes, in ADC's client ids and in a hub's key print.
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::string base32Encode(std::string_view bytes);
// Nothing when text holds a byte outside the alphabet (either letter case
// is read) or leftover bits that are not zero.
std::optional<std::string> base32Decode(std::string_view text);
