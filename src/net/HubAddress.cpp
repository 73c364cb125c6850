#include "net/HubAddress.h"

#include <algorithm>
#include <cctype>

#include "net/base32.h"

namespace {

struct Scheme {
    std::string_view name;
    HubAddress::Protocol protocol;
    bool tls;
};
constexpr Scheme kSchemes[] = {
    {"adc://", HubAddress::Protocol::Adc, false},
    {"adcs://", HubAddress::Protocol::Adc, true},
    {"dchub://", HubAddress::Protocol::Nmdc, false},
    {"nmdc://", HubAddress::Protocol::Nmdc, false},
    {"nmdcs://", HubAddress::Protocol::Nmdc, true},
};
constexpr std::string_view kKeyPrintPrefix = "?kp=SHA256/";
constexpr std::size_t kSha256Bytes = 32;

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

std::optional<std::int32_t> parsePort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::int32_t port = std::stoi(std::string(digits));
    return port >= 1 && port <= 65535 ? std::optional<std::int32_t>(port) : std::nullopt;
}

// An IPv6 address written without brackets: hex digits, ':' and '.' for an
// IPv4 tail, with at least two ':'.
bool isBareIpv6(std::string_view text) {
    return std::count(text.begin(), text.end(), ':') > 1 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
           });
}

// "word:/..." or a scheme's name with a ':' but no "//" ("adc:hub:411"):
// meant as a scheme, not a host and port ("dchub:411" is a host).
bool looksLikeScheme(std::string_view text) {
    const std::size_t colon = text.find(':');
    const std::string_view before = text.substr(0, colon);
    if (colon == std::string_view::npos || before.empty() ||
        !std::all_of(before.begin(), before.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
        return false;
    if (text.compare(colon, 2, ":/") == 0)
        return true;
    const std::string named = std::string(before) + ":";
    return !parsePort(text.substr(colon + 1)) &&
           std::any_of(std::begin(kSchemes), std::end(kSchemes),
                       [&](const Scheme& scheme) { return startsWithNoCase(scheme.name, named); });
}

// "host", "host:port", "[v6]", "[v6]:port".
bool parseAuthority(std::string_view authority, HubAddress& address, std::string& why) {
    if (authority.find('@') != std::string_view::npos) {
        why = "has a user before '@'; a hub address names no user (dc_nick and dc_pass do)";
        return false;
    }
    std::string_view rest;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            why = "has a '[' without its ']'";
            return false;
        }
        address.host.assign(authority.substr(1, close - 1));
        rest = authority.substr(close + 1);
    } else {
        const std::size_t colon = authority.find(':');
        address.host.assign(authority.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    }
    if (address.host.empty()) {
        why = "names no host";
        return false;
    }
    if (rest.empty())
        return true;
    if (rest[0] != ':') {
        why = "has \"" + std::string(rest) + "\" after the host, where only ':' and a port may follow";
        return false;
    }
    if ((address.port = parsePort(rest.substr(1))))
        return true;
    why = "has \"" + std::string(rest.substr(1)) + "\" where its port (1..65535) should be";
    return false;
}

// "", "/", "/?kp=SHA256/<base32>", "?kp=SHA256/<base32>"
bool parseTail(std::string_view tail, HubAddress& address, std::string& why) {
    if (!tail.empty() && tail[0] == '/')
        tail.remove_prefix(1);
    if (tail.empty())
        return true;
    if (!startsWithNoCase(tail, kKeyPrintPrefix)) {
        why = "has \"" + std::string(tail) + "\" after the port; only ?kp=SHA256/... may follow";
        return false;
    }
    const std::optional<std::string> print = base32Decode(tail.substr(kKeyPrintPrefix.size()));
    if (!print || print->size() != kSha256Bytes) {
        why = "has a key print that is not the base32 of 32 bytes (a SHA-256)";
        return false;
    }
    if (address.tls != true) {
        why = "has a key print, which only a TLS address (adcs://, nmdcs://) can check";
        return false;
    }
    address.keyPrint = *print;
    return true;
}

}  // namespace

std::optional<HubAddress> parseHubAddress(std::string_view text, std::string& why) {
    HubAddress address;
    for (const Scheme& scheme : kSchemes)
        if (startsWithNoCase(text, scheme.name)) {
            address.protocol = scheme.protocol;
            address.tls = scheme.tls;
            address.scheme = scheme.name;
            text.remove_prefix(scheme.name.size());
            break;
        }
    if (address.scheme.empty()) {
        if (looksLikeScheme(text)) {
            const std::size_t schemeEnd = std::min(text.find_first_not_of(":/", text.find(':')), text.size());
            why = "has an unknown scheme \"" + std::string(text.substr(0, schemeEnd)) +
                  "\" (adc://, adcs://, dchub://, nmdcs://, or a host name alone)";
            return std::nullopt;
        }
        // A bare IPv6 address is a host name alone.
        if (isBareIpv6(text)) {
            address.host.assign(text);
            return address;
        }
    }
    const std::size_t tail = text.find_first_of("/?");
    if (!parseAuthority(text.substr(0, tail), address, why) ||
        !parseTail(tail == std::string_view::npos ? std::string_view() : text.substr(tail), address, why))
        return std::nullopt;
    return address;
}
