// A TCP listener on 127.0.0.1 (or ::1) with a free port, for tests that
// play a peer.
#pragma once

#include <chrono>
#include <memory>
#include <netinet/in.h>

#include "PeerSocket.h"

class LoopbackListener {
public:
    explicit LoopbackListener(bool ipv6 = false);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int port() const { return boundPort; }
    // The listener's address, ready for Connection::Connect.
    sockaddr_in address() const;
    // Waits for the next client; nullptr after the deadline.
    std::unique_ptr<PeerSocket> accept(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Stops listening (connects are then refused).
    void close();

private:
    int fd = -1;
    int boundPort = 0;
};

// A host name with an empty label: the resolver refuses it without asking
// any name server, so a test of a failed lookup sends nothing off the host.
constexpr char kUnresolvableHost[] = "no..such.host";

// A port on 127.0.0.1 that nothing listens on right now.
int freeLoopbackPort();

// Whether ::1 can be listened on (some containers have no IPv6 at all).
bool ipv6LoopbackAvailable();

// Waits until something accepts connections on 127.0.0.1:port (a server
// just started); false after the deadline.
bool waitUntilListening(int port, std::chrono::milliseconds deadline = std::chrono::seconds(5));
