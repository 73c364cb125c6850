// Opening a client's link to its server: resolve, connect to each address in
// turn (with TLS when the connection is set up for it), and say why when it
// fails, in the words each client has always used.
#pragma once

#include <cstdint>
#include <string>

#include "net/Connection.h"

// How a client names itself, its certificate switch and its peer in the
// lines it logs while opening the link.
struct LinkLogTexts {
    const char* resolverCaller;  // names the client in the resolver's line
    const char* caller;          // names the client in every other line
    const char* verifyKey;       // the switch that turned certificate checks off
    const char* peer;            // "server", "hub"
};

// True when the link is open.
bool openServerLink(Connection& connection, const std::string& host, std::int32_t port, const LinkLogTexts& texts);
