// A TCP client connection, TLS when asked for, with an input and an output
// buffer, shared by both protocol sides. Subclasses supply the framing
// (readMessage, writeMessage). Nothing here waits: a link being opened (the
// connect, then the TLS handshake) is a phase that the relay loop moves on
// whenever the socket is ready, and every read and write returns at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <sys/select.h>
#include <sys/socket.h>

#include "net/ByteBuffer.h"
#include "net/ServerAddress.h"
#include "net/TlsSession.h"

class Connection {
public:
    // How far the link is.
    enum class Phase {
        Closed,       // no socket
        Connecting,   // connect(2) under way: waits for the socket to be writable
        Handshaking,  // TLS handshake under way
        Open,         // messages flow
    };
    // What an attempt to open a link came to so far.
    enum class Opening { Pending, Open, Failed };

    // Output the peer does not drain beyond this is a dead or hostile peer:
    // far above what a chat relay ever queues.
    static constexpr std::size_t kMaxUnsentOutput = 4 * 1024 * 1024;
    // _read stops draining the socket once this much input is buffered; the
    // framing's own limit on one message lies below it.
    static constexpr std::size_t kMaxBufferedInput = 8 * 1024 * 1024;
    // One _read takes at most about this much: what the relay handles in a
    // pass. The rest waits in the socket, where TCP holds the sender back,
    // instead of in our memory.
    static constexpr std::size_t kMaxReadAtOnce = 256 * 1024;

    Connection();
    virtual ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Takes one complete message out of the input, after draining the socket.
    virtual bool readMessage(std::string& out) = 0;
    // Frames one message, queues it and writes as far as the socket takes it.
    virtual bool writeMessage(const std::string& message) = 0;
    // Empties both buffers and closes the socket; 0 when nothing was open.
    virtual int Disconnect();

    // Starts opening a link to the server's addresses, tried in turn (an old
    // link is closed first). A socket that cannot be created or made
    // non-blocking ends the process.
    Opening Connect(const ServerAddress& server);
    // Moves a link being opened on, now that the loop found its socket
    // readable or writable as addToFdSets asked.
    Opening continueOpening(bool readable, bool writable);
    Phase phase() const { return linkPhase; }
    // Every later Connect wraps the link in TLS with these settings (the
    // process must ignore SIGPIPE, as the daemon does).
    void useTls(const TlsSettings& settings);
    // TLS is on without checking the peer's certificate.
    bool certificatesUnchecked() const {
        return tlsSettings.enabled && !tlsSettings.verify && tlsSettings.keyPrint.empty();
    }
    const std::string& tlsHost() const { return tlsSettings.host; }
    // The link is open: messages can be read and written.
    bool isConnected() const { return linkPhase == Phase::Open; }
    // The socket while there is one, else -1.
    int descriptor() const { return linkPhase == Phase::Closed ? -1 : sockfd; }
    // Adds the socket to readable when input is wanted (or TLS or the
    // opening waits for it), and to writable when output can go on once it
    // is writable (or the opening waits for that); returns the socket, or -1
    // without one.
    int addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const;
    // Input TLS has decrypted that the socket no longer shows as readable.
    bool hasPendingInput() const;
    // True while bytes wait in the output buffer for the socket.
    bool hasQueuedOutput() const;
    // How many: 0 when not connected.
    std::size_t queuedOutputBytes() const;
    // Writes queued output as far as the socket takes it, without waiting.
    void flushOutput();
    // Asks the system to probe a link that has been idle for idle, every
    // interval, and to give it up after probes unanswered probes; where the
    // system cannot tune them, its own times apply.
    void enableKeepAlive(std::chrono::seconds idle, std::chrono::seconds interval, int probes);
    // While held, writeMessage only queues; releasing writes it all at once,
    // one write for what a whole pass of the relay produced.
    void holdOutput();
    void releaseOutput();

protected:
    // Drains the socket into inbuf.
    void _read();
    // Pushes outbuf into the socket as far as it takes it.
    void _write();
    // Ends the link like a reset because the peer went over a size limit.
    void dropOverLimit(const char* operation, const char* what, std::size_t size, std::size_t limit);
    // Closes the socket and marks the link closed; the buffers are kept.
    void closeLink();
    // "from 5 > bytes" / "to 5 > bytes", the form of every traffic log line.
    static std::string trafficLine(const char* direction, int fd, std::string_view bytes);

    Phase linkPhase = Phase::Closed;  // how far the link is
    int sockfd;            // the socket; meaningful only while the phase is not Closed
    ByteBuffer inbuf;      // received bytes not yet taken as messages
    ByteBuffer outbuf;     // framed bytes the socket has not accepted yet

private:
    // How one read or write on the link went; a failure is logged already.
    enum class Transfer { Moved, Blocked, Ended, Failed };
    Transfer receive(char* buffer, std::size_t size, std::size_t& got);
    Transfer transmit(const char* bytes, std::size_t size, std::size_t& sent);
    Transfer tlsTransfer(TlsSession::Result result, bool reading);
    Opening connectToNextEndpoint();
    Opening connectTo(const ServerAddress::Endpoint& endpoint);
    Opening connectEnded();
    Opening tcpConnected();
    Opening handshakeStep();
    Opening endpointFailed();

    bool outputHeld = false;                         // writeMessage only queues
    TlsSettings tlsSettings;                         // applied at each Connect
    std::unique_ptr<TlsSession> tls;                 // while a TLS link is open
    bool readWaitsForOutput = false;                 // TLS must write before it reads on
    bool writeWaitsForInput = false;                 // TLS must read before it writes on
    bool handshakeWantsWrite = false;                // the handshake waits for writability
    ServerAddress server;                            // the addresses being tried
    std::size_t nextEndpoint = 0;                    // the next of them to try
};
