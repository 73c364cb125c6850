#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "ConnectedFixture.h"
#include "Eventually.h"
#include "LogCapture.h"
#include "LoopbackListener.h"
#include "TestCertificates.h"
#include "TlsFront.h"
#include "frame/Log.h"
#include "net/Connection.h"

namespace {

// The smallest framing: messages end with '\n'. It lets the tests look at
// the buffers the base class keeps.
class NewlineConnection : public Connection {
public:
    bool readMessage(std::string& out) override {
        _read();
        const std::size_t end = inbuf.findTerminator("\n");
        if (end == ByteBuffer::npos)
            return false;
        out.assign(inbuf.view().substr(0, end));
        inbuf.consume(end + 1);
        return true;
    }
    bool writeMessage(const std::string& message) override {
        if (!isConnected())
            return false;
        outbuf.append(message + "\n");
        _write();
        return true;
    }
    std::string input() const { return std::string(inbuf.view()); }
    std::string output() const { return std::string(outbuf.view()); }
    void drain() { _read(); }
    void push() { _write(); }
    int descriptor() const { return sockfd; }
    void setSendBuffer(int bytes) { setsockopt(sockfd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes); }
};

using ConnectionTest = ConnectedFixture<NewlineConnection>;

}  // namespace

TEST_F(ConnectionTest, NewConnectionIsClosedAndEveryOperationRefuses) {
    LogCapture log;
    std::string out = "kept";
    EXPECT_FALSE(connection.isConnected());
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_FALSE(connection.writeMessage("x"));
    EXPECT_EQ(connection.Disconnect(), 0);
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(connection.addToFdSets(&set, &set, true), -1);
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(log.text(), "");
}

TEST_F(ConnectionTest, RefusedConnectLogsOneLineAndStaysClosed) {
    LogCapture log;
    listener.close();
    EXPECT_FALSE(openLink(connection, ServerAddress::resolve("127.0.0.1", listener.port())));
    EXPECT_EQ(log.count("Connection::Connect(): connect(2) failed: Connection refused"), 1);
    EXPECT_EQ(connection.phase(), Connection::Phase::Closed);
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(connection.addToFdSets(&set, &set, true), -1);
}

// The socket is non-blocking from the start; while the connect is under way
// the loop waits for it to be writable, then for input.
TEST_F(ConnectionTest, TheConnectWaitsInTheLoopAndTheOpenLinkJoinsTheReadSet) {
    // Whether the loop would wait for the socket to be readable, writable.
    const auto waitsFor = [&] {
        fd_set readable;
        fd_set writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        EXPECT_EQ(connection.addToFdSets(&readable, &writable, true), connection.descriptor());
        return std::make_pair(FD_ISSET(connection.descriptor(), &readable) != 0,
                              FD_ISSET(connection.descriptor(), &writable) != 0);
    };
    EXPECT_NE(connection.Connect(ServerAddress::resolve("127.0.0.1", listener.port())), Connection::Opening::Failed);
    EXPECT_TRUE(fcntl(connection.descriptor(), F_GETFL) & O_NONBLOCK);
    if (connection.phase() == Connection::Phase::Connecting) {
        EXPECT_EQ(waitsFor(), std::make_pair(false, true));
    }
    connect();
    EXPECT_TRUE(connection.isConnected());
    EXPECT_EQ(waitsFor(), std::make_pair(true, false));
}

TEST_F(ConnectionTest, RawBytesAreLoggedAtDebugPerReadAndWrite) {
    connect();
    LogCapture log(Debug);
    peer->send("hello\n");
    std::string out;
    ASSERT_TRUE(readWithin(out));
    connection.writeMessage("back");
    const std::string fd = std::to_string(connection.descriptor());
    // The newline that ends each message is the peer's byte: shown escaped.
    EXPECT_TRUE(log.contains("from " + fd + " > hello\\n\n"));
    EXPECT_TRUE(log.contains("to " + fd + " > back\\n\n"));
    EXPECT_EQ(peer->readUntil("\n"), "back");
}

TEST_F(ConnectionTest, ManyMessagesInOneReadAndOneSplitAcrossReads) {
    connect();
    std::string out;
    peer->send("one\ntwo\nthr");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "one");
    ASSERT_TRUE(connection.readMessage(out));
    EXPECT_EQ(out, "two");
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_EQ(connection.input(), "thr");
    peer->send("ee\n");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "three");
}

TEST_F(ConnectionTest, NulBytesPassThroughBothBuffers) {
    connect();
    const std::string withNul("a\0b", 3);
    connection.writeMessage(withNul);
    EXPECT_EQ(peer->readUntil("\n"), withNul);
    peer->send(withNul + "\n");
    std::string out;
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, withNul);
}

TEST_F(ConnectionTest, PeerCloseIsSilentAndKeepsReceivedBytes) {
    connect();
    LogCapture log;
    peer->send("complete\npartial");
    peer->close();
    std::string out;
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "complete");
    ASSERT_TRUE(eventually([&] {
        connection.drain();
        return !connection.isConnected();
    }));
    EXPECT_EQ(connection.input(), "partial");
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_EQ(log.text(), "");
}

TEST_F(ConnectionTest, ResetClosesTheLinkWithANotice) {
    connect();
    LogCapture log;
    peer->reset();
    ASSERT_TRUE(eventually([&] {
        connection.drain();
        return !connection.isConnected();
    }));
    EXPECT_TRUE(log.contains("Connection::_read():: Connection reset by peer"));
}

TEST_F(ConnectionTest, WritingToAGonePeerMarksTheLinkClosedInsteadOfKillingUs) {
    connect();
    LogCapture log;
    peer->reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The first write may still be accepted by the local stack; later ones fail.
    ASSERT_TRUE(eventually([&] {
        connection.writeMessage("anyone there?");
        return !connection.isConnected();
    }));
    EXPECT_TRUE(log.contains("Connection::_write()"));
    EXPECT_FALSE(connection.writeMessage("after"));
}

TEST_F(ConnectionTest, PartialWriteKeepsTheRestQueuedAndSendsItFirst) {
    connect();
    // A small send buffer on our side makes the kernel take only part of it.
    connection.setSendBuffer(4096);
    const std::string big(4 * 1024 * 1024 - 100, 'x');
    connection.writeMessage(big);
    ASSERT_TRUE(connection.hasQueuedOutput());
    const std::size_t queued = connection.output().size();
    EXPECT_LT(queued, big.size() + 1);
    connection.writeMessage("second");
    EXPECT_EQ(connection.output().substr(connection.output().size() - 7), "second\n");
    std::string received;
    std::thread reader([&] { received = peer->readUntil("second\n", std::chrono::seconds(20)); });
    ASSERT_TRUE(eventually([&] {
        connection.flushOutput();
        return !connection.hasQueuedOutput();
    }, std::chrono::seconds(20)));
    EXPECT_TRUE(connection.isConnected());
    reader.join();
    EXPECT_EQ(received, big + "\n");
}

TEST_F(ConnectionTest, OutputThePeerNeverDrainsIsBoundedAndEndsTheLink) {
    connect();
    LogCapture log;
    peer->setReceiveBuffer(4096);
    const std::string chunk(256 * 1024, 'z');
    for (int i = 0; i < 64 && connection.isConnected(); ++i)
        connection.writeMessage(chunk);
    EXPECT_FALSE(connection.isConnected());
    EXPECT_TRUE(log.contains("unsent output of "));
    EXPECT_TRUE(log.contains("is over the limit of 4194304 bytes; closing the link"));
}

TEST_F(ConnectionTest, ReconnectClosesTheOldLinkAndStartsWithEmptyBuffers) {
    connect();
    peer->setReceiveBuffer(4096);
    peer->send("half a mess");
    std::string out;
    ASSERT_TRUE(eventually([&] {
        connection.drain();
        return !connection.input().empty();
    }));
    connection.setSendBuffer(4096);
    connection.writeMessage(std::string(3 * 1024 * 1024, 'q'));
    ASSERT_TRUE(connection.hasQueuedOutput());
    std::unique_ptr<PeerSocket> oldPeer = std::move(peer);
    connect();
    EXPECT_EQ(connection.input(), "");
    EXPECT_EQ(connection.output(), "");
    EXPECT_TRUE(oldPeer->waitForClose(std::chrono::seconds(10)));
    peer->send("age\n");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "age");
}

TEST_F(ConnectionTest, DisconnectEmptiesBuffersAndClosesOnce) {
    connect();
    peer->send("pending");
    ASSERT_TRUE(eventually([&] {
        connection.drain();
        return !connection.input().empty();
    }));
    EXPECT_EQ(connection.Disconnect(), 0);
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(connection.input(), "");
    EXPECT_EQ(connection.Disconnect(), 0);
    EXPECT_TRUE(peer->waitForClose());
}

// Fills the descriptor table up to the select limit, then connects.
int connectBeyondTheSelectLimit() {
    const rlimit limit{FD_SETSIZE + 16, FD_SETSIZE + 16};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 3;
    LoopbackListener listener;
    const int null = open("/dev/null", O_RDONLY);
    while (dup(null) < FD_SETSIZE - 1) {
    }
    NewlineConnection connection;
    const Connection::Opening opening = connection.Connect(ServerAddress::resolve("127.0.0.1", listener.port()));
    return opening == Connection::Opening::Failed && !connection.isConnected() ? 0 : 1;
}

TEST(ConnectionLimits, DescriptorsBeyondTheSelectSetAreRefused) {
    EXPECT_EXIT(std::_Exit(connectBeyondTheSelectLimit()), ::testing::ExitedWithCode(0),
                "does not fit in select\\(2\\) sets");
}

// A literal IPv6 address resolves without a name server; a refused address
// is followed by the next one within the same Connect.
TEST_F(ConnectionTest, AddressesOfBothFamiliesAreTriedInTurn) {
    if (!ipv6LoopbackAvailable())
        GTEST_SKIP() << "no IPv6 loopback here";
    LoopbackListener v6(true);
    ServerAddress server = ServerAddress::resolve("::1", v6.port());
    ASSERT_EQ(server.outcome, ServerAddress::Outcome::Resolved);
    ASSERT_EQ(server.endpoints.size(), 1u);
    EXPECT_EQ(ServerAddress::describe(server.endpoints[0]), "[::1] port " + std::to_string(v6.port()));
    const ServerAddress refused = ServerAddress::resolve("127.0.0.1", freeLoopbackPort());
    server.endpoints.insert(server.endpoints.begin(), refused.endpoints[0]);
    LogCapture log;
    EXPECT_TRUE(openLink(connection, server));
    EXPECT_EQ(log.count("Connection::Connect(): connect(2) failed: Connection refused"), 1);
    auto peer6 = v6.accept();
    ASSERT_NE(peer6, nullptr);
    connection.writeMessage("over IPv6");
    EXPECT_EQ(peer6->readUntil("\n"), "over IPv6");
    EXPECT_EQ(ServerAddress::resolve(kUnresolvableHost, 1).outcome, ServerAddress::Outcome::NameNotFound);
}

// Megabytes each way through TLS (socat in front of the listener) arrive
// whole, with the library's "wants read / wants write" met on the way.
TEST_F(ConnectionTest, TlsCarriesBulkBothWays) {
    if (!TlsSession::available() || !TestCertificates::available() || !TlsFront::available())
        GTEST_SKIP() << "built without TLS, or no openssl or socat";
    std::signal(SIGPIPE, SIG_IGN);
    TestCertificates certificates;
    TlsFront front(listener.port(), certificates);
    TlsSettings tls;
    tls.enabled = true;
    tls.host = "localhost";
    setenv("SSL_CERT_FILE", certificates.authority().c_str(), 1);
    connection.useTls(tls);
    const bool opened = openLink(connection, ServerAddress::resolve("127.0.0.1", front.port()));
    unsetenv("SSL_CERT_FILE");
    ASSERT_TRUE(opened);
    peer = listener.accept();
    ASSERT_NE(peer, nullptr);
    const std::string line(1000, 'x');
    for (int i = 0; i < 2000; ++i)
        connection.writeMessage(line);
    std::string received;
    std::thread reader([&] { received = peer->readUntil("end\n", std::chrono::seconds(20)); });
    connection.writeMessage("end");
    EXPECT_TRUE(eventually([&] {
        connection.flushOutput();
        return !connection.hasQueuedOutput();
    }, std::chrono::seconds(20)));
    reader.join();
    EXPECT_EQ(received.size(), 2000u * 1001u);
    std::string bulk;
    for (int i = 0; i < 2000; ++i)
        bulk += line + "\n";
    std::thread writer([&] { peer->send(bulk); });
    int lines = 0;
    std::string out;
    while (lines < 2000 && readWithin(out))
        lines += out == line;
    writer.join();
    EXPECT_EQ(lines, 2000);
}
