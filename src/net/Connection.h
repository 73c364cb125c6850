// A TCP client connection, TLS when asked for, with an input and an output
// buffer, shared by both protocol sides. Subclasses supply the framing
// (readMessage, writeMessage).
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
    // A blocking wait (connect, waitMessage, sendMessage) without progress
    // for this long gives up, so that a silent peer cannot freeze the daemon.
    static constexpr std::chrono::milliseconds kDefaultWaitLimit{60 * 1000};

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
    // Blocks until readMessage yields, the link closes, the wait limit or the
    // deadline passes.
    virtual bool waitMessage(std::string& out);
    // writeMessage, then blocks until the output buffer is written out.
    virtual bool sendMessage(const std::string& message);

    // Opens a new link to an already resolved address: 0, or -1 on failure.
    // A socket that cannot be created or made non-blocking ends the process.
    // With TLS on, the handshake follows, bounded like the connect itself.
    int Connect(const struct sockaddr* address, socklen_t length);
    // Tries the server's addresses in turn until one takes the link.
    int Connect(const ServerAddress& server);
    // Every later Connect wraps the link in TLS with these settings (the
    // process must ignore SIGPIPE, as the daemon does).
    void useTls(const TlsSettings& settings);
    // TLS is on without checking the peer's certificate.
    bool certificatesUnchecked() const { return tlsSettings.enabled && !tlsSettings.verify; }
    bool isConnected() const;
    // Adds the socket to set and returns it, or -1 when not connected.
    int addToFdSet(fd_set* set) const;
    // Adds the socket to readable when input is wanted (or TLS output waits
    // for it), and to writable when output can go on once it is writable;
    // returns the socket, or -1 when not connected.
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

    // Ends every blocking wait (connect, waitMessage, sendMessage) at this
    // time at the latest: a client bounds a whole log-in with it. A wait cut
    // short by the deadline closes the link without a line of its own; the
    // client says why.
    void setDeadline(std::chrono::steady_clock::time_point deadline);
    void clearDeadline();
    bool deadlinePassed() const;

    // The wait limit for every connection of the process (tests shorten it).
    static void setWaitLimit(std::chrono::milliseconds limit);
    static std::chrono::milliseconds waitLimit();

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

    bool connected;        // true while sockfd is an open, connected socket
    int sockfd;            // the socket; meaningful only while connected
    ByteBuffer inbuf;      // received bytes not yet taken as messages
    ByteBuffer outbuf;     // framed bytes the socket has not accepted yet

private:
    enum class Readiness { Ready, Closed, TimedOut };
    // How one read or write on the link went; a failure is logged already.
    enum class Transfer { Moved, Blocked, Ended, Failed };
    Transfer receive(char* buffer, std::size_t size, std::size_t& got);
    Transfer transmit(const char* bytes, std::size_t size, std::size_t& sent);
    Transfer tlsTransfer(TlsSession::Result result, bool reading);
    bool startTls();
    Readiness waitUntil(bool forWriting);
    bool finishConnect();
    // Closes the link after a blocking wait timed out, saying so unless the
    // deadline (which the client reports) was the cause.
    void giveUpWaiting(const std::string& why);

    std::chrono::steady_clock::time_point deadline;  // no blocking wait goes past it
    bool outputHeld = false;                         // writeMessage only queues
    TlsSettings tlsSettings;                         // applied at each Connect
    std::unique_ptr<TlsSession> tls;                 // while a TLS link is open
    bool readWaitsForOutput = false;                 // TLS must write before it reads on
    bool writeWaitsForInput = false;                 // TLS must read before it writes on
};
