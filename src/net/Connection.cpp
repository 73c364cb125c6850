#include "net/Connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include "frame/Log.h"
#include "platform.h"

namespace {

ssize_t sendBytes(int fd, const char* bytes, std::size_t count) {
#ifdef MSG_NOSIGNAL
    // A peer that has gone must come back as EPIPE, not as SIGPIPE.
    return send(fd, bytes, count, MSG_NOSIGNAL);
#else
    return write(fd, bytes, count);
#endif
}

}  // namespace

std::string Connection::trafficLine(const char* direction, int fd, std::string_view bytes) {
    std::string line = direction;
    line += std::to_string(fd);
    line += " > ";
    line.append(bytes.data(), bytes.size());
    return line;
}

Connection::Connection() : sockfd(-1) {}

Connection::~Connection() {
    if (linkPhase != Phase::Closed)
        close(sockfd);
}

bool Connection::hasQueuedOutput() const { return isConnected() && !outbuf.empty(); }

std::size_t Connection::queuedOutputBytes() const { return isConnected() ? outbuf.size() : 0; }

void Connection::flushOutput() { _write(); }

void Connection::enableKeepAlive(std::chrono::seconds idle, std::chrono::seconds interval, int probes) {
    if (linkPhase == Phase::Closed)
        return;
    const int on = 1;
    setsockopt(sockfd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef HAVE_TCP_KEEPIDLE
    const int idleSeconds = static_cast<int>(idle.count());
    setsockopt(sockfd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
#endif
#ifdef HAVE_TCP_KEEPINTVL
    const int intervalSeconds = static_cast<int>(interval.count());
    setsockopt(sockfd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
#endif
#ifdef HAVE_TCP_KEEPCNT
    setsockopt(sockfd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
#endif
    (void)idle;
    (void)interval;
    (void)probes;
}

void Connection::holdOutput() { outputHeld = true; }

void Connection::releaseOutput() {
    outputHeld = false;
    _write();
}

int Connection::addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const {
    switch (linkPhase) {
    case Phase::Closed:
        return -1;
    case Phase::Connecting:
        FD_SET(sockfd, writable);
        break;
    case Phase::Handshaking:
        FD_SET(sockfd, handshakeWantsWrite ? writable : readable);
        break;
    case Phase::Open:
        if (wantInput || writeWaitsForInput)
            FD_SET(sockfd, readable);
        if ((!outbuf.empty() && !writeWaitsForInput) || readWaitsForOutput)
            FD_SET(sockfd, writable);
        break;
    }
    return sockfd;
}

bool Connection::hasPendingInput() const { return isConnected() && tls && tls->hasPendingInput(); }

void Connection::useTls(const TlsSettings& settings) { tlsSettings = settings; }

void Connection::closeLink() {
    if (linkPhase == Phase::Closed)
        return;
    tls.reset();
    readWaitsForOutput = false;
    writeWaitsForInput = false;
    close(sockfd);
    linkPhase = Phase::Closed;
}

int Connection::Disconnect() {
    if (linkPhase == Phase::Closed)
        return 0;
    inbuf.clear();
    outbuf.clear();
    if (tls && linkPhase == Phase::Open)
        tls->shutdown();
    tls.reset();
    readWaitsForOutput = false;
    writeWaitsForInput = false;
    linkPhase = Phase::Closed;
    return close(sockfd);
}

Connection::Opening Connection::Connect(const ServerAddress& addresses) {
    Disconnect();
    // A new link starts clean: half a message from a dead link must not be
    // glued to the new one, nor stale output sent to a new peer.
    inbuf.clear();
    outbuf.clear();
    server = addresses;
    nextEndpoint = 0;
    return connectToNextEndpoint();
}

// The addresses are tried in the resolver's order until one takes the link.
Connection::Opening Connection::connectToNextEndpoint() {
    while (nextEndpoint < server.endpoints.size()) {
        const ServerAddress::Endpoint& endpoint = server.endpoints[nextEndpoint++];
        if (server.endpoints.size() > 1)
            logMessage(Notice, "Connecting to " + ServerAddress::describe(endpoint));
        const Opening opening = connectTo(endpoint);
        if (opening != Opening::Failed)
            return opening;
    }
    return Opening::Failed;
}

Connection::Opening Connection::connectTo(const ServerAddress::Endpoint& endpoint) {
    sockfd = socket(endpoint.get()->sa_family, SOCK_STREAM, 0);
    if (sockfd < 0) {
        logMessage(Error, "Connection::Connect(): socket(2) failed", true);
        std::exit(1);
    }
    if (sockfd >= FD_SETSIZE) {
        logMessage(Error, "Connection::Connect(): socket descriptor " + std::to_string(sockfd) +
                              " does not fit in select(2) sets of " + std::to_string(FD_SETSIZE));
        close(sockfd);
        return Opening::Failed;
    }
    const int flags = fcntl(sockfd, F_GETFL);
    if (flags < 0) {
        logMessage(Error, "Connection::Connect(): fcntl(2)(socket,F_GETFL) failed", true);
        std::exit(1);
    }
    if (fcntl(sockfd, F_SETFL, flags | O_NONBLOCK) < 0) {
        logMessage(Error, "Connection::Connect(): fcntl(2)(socket,F_SETFL) failed", true);
        std::exit(1);
    }
    // An interrupted non-blocking connect goes on in the background like one
    // in progress; calling connect again would only report it as such.
    const int result = connect(sockfd, endpoint.get(), endpoint.length);
    if (result < 0 && errno != EINPROGRESS && errno != EINTR) {
        logMessage(Error, "Connection::Connect(): connect(2) failed", true);
        close(sockfd);
        return Opening::Failed;
    }
    linkPhase = Phase::Connecting;
    return result == 0 ? tcpConnected() : Opening::Pending;
}

Connection::Opening Connection::continueOpening(bool readable, bool writable) {
    switch (linkPhase) {
    case Phase::Connecting:
        // A connect that ended, well or not, makes the socket writable.
        return writable ? connectEnded() : Opening::Pending;
    case Phase::Handshaking:
        return (handshakeWantsWrite ? writable : readable) ? handshakeStep() : Opening::Pending;
    case Phase::Open:
        return Opening::Open;
    case Phase::Closed:
        break;
    }
    return Opening::Failed;
}

Connection::Opening Connection::connectEnded() {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(sockfd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
        error = errno;
    if (error == 0)
        return tcpConnected();
    errno = error;
    logMessage(Error, "Connection::Connect(): connect(2) failed", true);
    return endpointFailed();
}

Connection::Opening Connection::endpointFailed() {
    closeLink();
    return connectToNextEndpoint();
}

Connection::Opening Connection::tcpConnected() {
    if (!tlsSettings.enabled) {
        linkPhase = Phase::Open;
        return Opening::Open;
    }
    tls = std::make_unique<TlsSession>();
    std::string why;
    if (!tls->start(sockfd, tlsSettings, why)) {
        logMessage(Error, "Connection::Connect(): TLS: " + why);
        return endpointFailed();
    }
    linkPhase = Phase::Handshaking;
    return handshakeStep();
}

// One step of the handshake, as far as the socket allows now; a failure is
// the library's reason, and the next address is tried.
Connection::Opening Connection::handshakeStep() {
    const TlsSession::Result result = tls->handshake();
    switch (result) {
    case TlsSession::Result::Done:
        logMessage(Notice, "TLS with " + tlsSettings.host + ": " + tls->describe() +
                               (!tlsSettings.keyPrint.empty() ? ", key print matched"
                                : tlsSettings.verify   ? ", certificate verified"
                                                       : ", certificate not verified"));
        linkPhase = Phase::Open;
        return Opening::Open;
    case TlsSession::Result::WantRead:
    case TlsSession::Result::WantWrite:
        handshakeWantsWrite = result == TlsSession::Result::WantWrite;
        return Opening::Pending;
    case TlsSession::Result::Closed:
    case TlsSession::Result::Failed:
        break;
    }
    logMessage(Error, "Connection::Connect(): TLS handshake with " + tlsSettings.host + " failed: " +
                          (result == TlsSession::Result::Closed ? "the peer closed the link" : tls->failure()));
    return endpointFailed();
}

void Connection::_read() {
    if (!isConnected())
        return;
    char buffer[16384];
    for (std::size_t taken = 0; taken < kMaxReadAtOnce && inbuf.size() < kMaxBufferedInput;) {
        std::size_t got = 0;
        switch (receive(buffer, sizeof buffer, got)) {
        case Transfer::Moved:
            inbuf.append(buffer, got);
            taken += got;
            if (logEnabled(Debug))
                logMessage(Debug, trafficLine("from ", sockfd, std::string_view(buffer, got)));
            // Less than asked for: the socket had no more, and a read now
            // would only say so. (TLS hands out a record at a time.)
            if (got < sizeof buffer && !tls)
                return;
            continue;
        case Transfer::Blocked:
            return;
        case Transfer::Ended:
        case Transfer::Failed:
            closeLink();
            return;
        }
    }
}

// Held output counts against the limit as well: a peer that makes us
// answer without reading cannot grow it past the limit within a pass.
void Connection::_write() {
    if (!isConnected())
        return;
    while (!outputHeld && !outbuf.empty()) {
        const std::string_view pending = outbuf.view();
        std::size_t sent = 0;
        const Transfer transfer = transmit(pending.data(), pending.size(), sent);
        if (transfer == Transfer::Blocked)
            break;
        if (transfer != Transfer::Moved) {
            closeLink();
            return;
        }
        if (logEnabled(Debug))
            logMessage(Debug, trafficLine("to ", sockfd, pending.substr(0, sent)));
        outbuf.consume(sent);
    }
    if (outbuf.size() > kMaxUnsentOutput)
        dropOverLimit("Connection::_write()", "unsent output", outbuf.size(), kMaxUnsentOutput);
}

Connection::Transfer Connection::receive(char* buffer, std::size_t size, std::size_t& got) {
    if (tls) {
        readWaitsForOutput = false;
        return tlsTransfer(tls->read(buffer, size, got), true);
    }
    for (;;) {
        const ssize_t result = read(sockfd, buffer, size);
        if (result > 0) {
            got = static_cast<std::size_t>(result);
            return Transfer::Moved;
        }
        if (result == 0)
            return Transfer::Ended;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Transfer::Blocked;
        // Any other read error leaves a dead socket that select would report
        // as readable for ever: end the link like a reset.
        if (errno == ECONNRESET)
            logMessage(Notice, "Connection::_read():", true);
        else
            logMessage(Notice, "Connection::_read(): read(2) failed:", true);
        return Transfer::Failed;
    }
}

Connection::Transfer Connection::transmit(const char* bytes, std::size_t size, std::size_t& sent) {
    if (tls) {
        writeWaitsForInput = false;
        return tlsTransfer(tls->write(bytes, size, sent), false);
    }
    for (;;) {
        const ssize_t result = sendBytes(sockfd, bytes, size);
        if (result >= 0) {
            sent = static_cast<std::size_t>(result);
            return Transfer::Moved;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Transfer::Blocked;
        // A peer that has gone (EPIPE and the like) is handled as a reset, so
        // that the client sees the link closed and logs in again.
        if (errno == ECONNRESET)
            logMessage(Notice, "Connection::_write()", true);
        else
            logMessage(Notice, "Connection::_write(): write(2) failed", true);
        return Transfer::Failed;
    }
}

// TLS may have to write to go on reading (or read to go on writing); the
// flags tell the relay loop which readiness to wait for.
Connection::Transfer Connection::tlsTransfer(TlsSession::Result result, bool reading) {
    switch (result) {
    case TlsSession::Result::Done:
        return Transfer::Moved;
    case TlsSession::Result::WantRead:
        writeWaitsForInput = !reading;
        return Transfer::Blocked;
    case TlsSession::Result::WantWrite:
        readWaitsForOutput = reading;
        return Transfer::Blocked;
    case TlsSession::Result::Closed:
        return Transfer::Ended;
    case TlsSession::Result::Failed:
        break;
    }
    logMessage(Notice, std::string(reading ? "Connection::_read(): TLS: " : "Connection::_write(): TLS: ") +
                           tls->failure());
    return Transfer::Failed;
}

void Connection::dropOverLimit(const char* operation, const char* what, std::size_t size,
                               std::size_t limit) {
    logMessage(Notice, std::string(operation) + ": " + what + " of " + std::to_string(size) +
                           " bytes on descriptor " + std::to_string(sockfd) + " is over the limit of " +
                           std::to_string(limit) + " bytes; closing the link");
    closeLink();
}
