// Base64 (RFC 4648, with padding), as SASL payloads travel on IRC.
#pragma once

#include <string>
#include <string_view>

std::string base64Encode(std::string_view bytes);
