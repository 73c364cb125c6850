// A hub's address as Direct Connect clients write it: "adc://host:port",
// "adcs://host:port/?kp=SHA256/<base32>", "dchub://host:port",
// "nmdcs://host:port", or a bare host name, which is an NMDC hub. IPv6
// addresses stand in brackets when a port follows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct HubAddress {
    enum class Protocol { Nmdc, Adc };

    Protocol protocol = Protocol::Nmdc;
    std::optional<bool> tls;              // what the scheme says; nothing for a bare host
    std::string host;
    std::optional<std::int32_t> port;     // nothing when the address has none
    std::string keyPrint;                 // SHA-256 of the hub's certificate, 32 bytes; empty: none given
    std::string_view scheme;              // "adcs://", or empty for a bare host
};

// The address text stands for; nothing, with the reason in why, when it
// names no hub brivox can read.
std::optional<HubAddress> parseHubAddress(std::string_view text, std::string& why);
