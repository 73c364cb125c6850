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
        if (!isConnected())
            return false;
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

// Shortens the blocking waits for one test.
class WaitLimit {
public:
    explicit WaitLimit(std::chrono::milliseconds limit) { Connection::setWaitLimit(limit); }
    ~WaitLimit() { Connection::setWaitLimit(Connection::kDefaultWaitLimit); }
};

}  // namespace

TEST_F(ConnectionTest, NewConnectionIsClosedAndEveryOperationRefuses) {
    LogCapture log;
    std::string out = "kept";
    EXPECT_FALSE(connection.isConnected());
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_FALSE(connection.writeMessage("x"));
    EXPECT_FALSE(connection.waitMessage(out));
    EXPECT_FALSE(connection.sendMessage("x"));
    EXPECT_EQ(connection.Disconnect(), 0);
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(connection.addToFdSet(&set), -1);
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(log.text(), "");
}

TEST_F(ConnectionTest, RefusedConnectLogsOneLineAndStaysClosed) {
    LogCapture log;
    const sockaddr_in address = listener.address();
    listener.close();
    EXPECT_EQ(connection.Connect(reinterpret_cast<const sockaddr*>(&address), sizeof address), -1);
    EXPECT_EQ(log.count("Connection::Connect(): connect(2) failed: Connection refused"), 1);
    EXPECT_FALSE(connection.isConnected());
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(connection.addToFdSet(&set), -1);
}

TEST_F(ConnectionTest, ConnectedSocketIsNonBlockingAndJoinsTheReadSet) {
    connect();
    EXPECT_TRUE(connection.isConnected());
    EXPECT_TRUE(fcntl(connection.descriptor(), F_GETFL) & O_NONBLOCK);
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(connection.addToFdSet(&set), connection.descriptor());
    EXPECT_TRUE(FD_ISSET(connection.descriptor(), &set));
}

TEST_F(ConnectionTest, RawBytesAreLoggedAtDebugPerReadAndWrite) {
    connect();
    LogCapture log(Debug);
    peer->send("hello\n");
    std::string out;
    ASSERT_TRUE(connection.waitMessage(out));
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
    ASSERT_TRUE(connection.waitMessage(out));
    EXPECT_EQ(out, "one");
    ASSERT_TRUE(connection.readMessage(out));
    EXPECT_EQ(out, "two");
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_EQ(connection.input(), "thr");
    peer->send("ee\n");
    ASSERT_TRUE(connection.waitMessage(out));
    EXPECT_EQ(out, "three");
}

TEST_F(ConnectionTest, NulBytesPassThroughBothBuffers) {
    connect();
    const std::string withNul("a\0b", 3);
    connection.writeMessage(withNul);
    EXPECT_EQ(peer->readUntil("\n"), withNul);
    peer->send(withNul + "\n");
    std::string out;
    ASSERT_TRUE(connection.waitMessage(out));
    EXPECT_EQ(out, withNul);
}

TEST_F(ConnectionTest, PeerCloseIsSilentAndKeepsReceivedBytes) {
    connect();
    LogCapture log;
    peer->send("complete\npartial");
    peer->close();
    std::string out;
    ASSERT_TRUE(connection.waitMessage(out));
    EXPECT_EQ(out, "complete");
    ASSERT_TRUE(eventually([&] {
        connection.drain();
        return !connection.isConnected();
    }));
    EXPECT_EQ(connection.input(), "partial");
    EXPECT_FALSE(connection.waitMessage(out));
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
    EXPECT_FALSE(connection.sendMessage("after"));
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

TEST_F(ConnectionTest, SendMessageWaitsUntilEverythingIsWritten) {
    connect();
    connection.setSendBuffer(4096);
    const std::string big(2 * 1024 * 1024, 'y');
    std::string received;
    std::thread reader([&] { received = peer->readUntil("\n", std::chrono::seconds(20)); });
    EXPECT_TRUE(connection.sendMessage(big));
    EXPECT_FALSE(connection.hasQueuedOutput());
    reader.join();
    EXPECT_EQ(received, big);
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

TEST_F(ConnectionTest, SendMessageGivesUpOnAPeerThatNeverReads) {
    connect();
    WaitLimit limit(std::chrono::milliseconds(300));
    LogCapture log;
    peer->setReceiveBuffer(4096);
    connection.setSendBuffer(4096);
    const std::string chunk(1024 * 1024, 'w');
    EXPECT_FALSE(connection.sendMessage(chunk + chunk + chunk));
    EXPECT_FALSE(connection.isConnected());
    EXPECT_TRUE(log.contains("Connection::sendMessage(): descriptor"));
    EXPECT_TRUE(log.contains("took no output within 300 ms; closing the link"));
}

TEST_F(ConnectionTest, WaitMessageGivesUpOnASilentPeer) {
    connect();
    WaitLimit limit(std::chrono::milliseconds(200));
    LogCapture log;
    std::string out;
    EXPECT_FALSE(connection.waitMessage(out));
    EXPECT_FALSE(connection.isConnected());
    EXPECT_TRUE(log.contains("Connection::waitMessage(): no message from descriptor"));
    EXPECT_TRUE(peer->waitForClose());
}

TEST_F(ConnectionTest, WaitMessageReturnsAtOnceWithABufferedMessage) {
    connect();
    WaitLimit limit(std::chrono::milliseconds(5000));
    peer->send("a\nb\n");
    std::string out;
    ASSERT_TRUE(connection.waitMessage(out));
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(connection.waitMessage(out));
    EXPECT_EQ(out, "b");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
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
    ASSERT_TRUE(connection.waitMessage(out));
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
    const sockaddr_in address = listener.address();
    const int result = connection.Connect(reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return result == -1 && !connection.isConnected() ? 0 : 1;
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
    EXPECT_EQ(connection.Connect(server), 0);
    EXPECT_EQ(log.count("Connection::Connect(): connect(2) failed: Connection refused"), 1);
    auto peer6 = v6.accept();
    ASSERT_NE(peer6, nullptr);
    connection.writeMessage("over IPv6");
    EXPECT_EQ(peer6->readUntil("\n"), "over IPv6");
    EXPECT_EQ(ServerAddress::resolve(kUnresolvableHost, 1).outcome, ServerAddress::Outcome::NameNotFound);
}

// Megabytes each way through TLS (socat in front of the listener) arrive
// whole, with the library's "wants read / wants write" met on the way.
TEST_F(ConnectionTest, TlsCarriesBulkBothWaysAndItsHandshakeIsBounded) {
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
    const int connected = connection.Connect(ServerAddress::resolve("127.0.0.1", front.port()));
    unsetenv("SSL_CERT_FILE");
    ASSERT_EQ(connected, 0);
    peer = listener.accept();
    ASSERT_NE(peer, nullptr);
    const std::string line(1000, 'x');
    for (int i = 0; i < 2000; ++i)
        connection.writeMessage(line);
    std::string received;
    std::thread reader([&] { received = peer->readUntil("end\n", std::chrono::seconds(20)); });
    EXPECT_TRUE(connection.sendMessage("end"));
    reader.join();
    EXPECT_EQ(received.size(), 2000u * 1001u);
    std::string bulk;
    for (int i = 0; i < 2000; ++i)
        bulk += line + "\n";
    std::thread writer([&] { peer->send(bulk); });
    int lines = 0;
    std::string out;
    while (lines < 2000 && connection.waitMessage(out))
        lines += out == line;
    writer.join();
    EXPECT_EQ(lines, 2000);

    // A peer that takes the TCP link but never answers the handshake.
    WaitLimit limit(std::chrono::milliseconds(300));
    LogCapture log;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(connection.Connect(ServerAddress::resolve("127.0.0.1", listener.port())), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(log.contains("Connection::Connect(): TLS handshake with localhost timed out after 300 ms"));
    EXPECT_FALSE(connection.isConnected());
}
