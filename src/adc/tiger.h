// The Tiger hash ADC hubs use for client ids and passwords: the original
// Tiger/192 in its common byte order (libgcrypt's TIGER1; its plain TIGER
// reverses each 64-bit word, and hubs refuse ids made with it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr std::size_t kTigerBytes = 24;

// False when brivox was built without libgcrypt: ADC cannot be spoken.
bool tigerAvailable();
// The 24-byte hash of bytes; empty when Tiger is not available.
std::string tigerHash(std::string_view bytes);
