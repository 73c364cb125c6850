// A test fixture holding one connection of type C, connected over loopback to
// a peer the test plays.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <netinet/in.h>

#include "Eventually.h"
#include "LoopbackListener.h"

template <typename C>
class ConnectedFixture : public ::testing::Test {
protected:
    void connect() {
        const sockaddr_in address = listener.address();
        ASSERT_EQ(connection.Connect(reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
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
