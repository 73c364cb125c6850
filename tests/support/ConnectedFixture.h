// A test fixture holding one connection of type C, connected over loopback to
// a peer the test plays.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sys/select.h>

#include "Eventually.h"
#include "LoopbackListener.h"
#include "net/Connection.h"

// Opens connection to server, waiting for the socket as the relay loop
// does; true once the link is open.
inline bool openLink(Connection& connection, const ServerAddress& server) {
    Connection::Opening opening = connection.Connect(server);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (opening == Connection::Opening::Pending && std::chrono::steady_clock::now() < end) {
        fd_set readable;
        fd_set writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        const int fd = connection.addToFdSets(&readable, &writable, true);
        timeval timeout{0, 20000};
        select(fd + 1, &readable, &writable, nullptr, &timeout);
        opening = connection.continueOpening(FD_ISSET(fd, &readable), FD_ISSET(fd, &writable));
    }
    return opening == Connection::Opening::Open;
}

template <typename C>
class ConnectedFixture : public ::testing::Test {
protected:
    void connect() {
        ASSERT_TRUE(openLink(connection, ServerAddress::resolve("127.0.0.1", listener.port())));
        peer = listener.accept();
        ASSERT_TRUE(peer);
    }
    // Reads until a message comes or five seconds pass.
    bool readWithin(std::string& out) {
        return eventually([&] { return connection.readMessage(out); }, std::chrono::seconds(5));
    }

    // Sends chunk after chunk without a terminator, reading meanwhile, until
    // the connection drops the peer or maxChunks went out.
    void floodUntilDropped(const std::string& chunk, int maxChunks) {
        std::string out;
        for (int i = 0; i < maxChunks && connection.isConnected(); ++i) {
            peer->send(chunk);
            eventually([&] {
                connection.readMessage(out);
                return !connection.isConnected();
            }, std::chrono::milliseconds(100));
        }
    }

    LoopbackListener listener;
    C connection;
    std::unique_ptr<PeerSocket> peer;
};
