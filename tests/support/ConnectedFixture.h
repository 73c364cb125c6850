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

    LoopbackListener listener;
    C connection;
    std::unique_ptr<PeerSocket> peer;
};
