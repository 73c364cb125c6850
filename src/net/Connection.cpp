#include "net/Connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include "frame/Log.h"
#include "frame/stopSignals.h"
#include "platform.h"

namespace {

std::chrono::milliseconds currentWaitLimit = Connection::kDefaultWaitLimit;

ssize_t sendBytes(int fd, const char* bytes, std::size_t count) {
#ifdef MSG_NOSIGNAL
    // A peer that has gone must come back as EPIPE, not as SIGPIPE.
    return send(fd, bytes, count, MSG_NOSIGNAL);
#else
    return write(fd, bytes, count);
#endif
}

timeval toTimeval(std::chrono::milliseconds duration) {
    timeval tv;
    tv.tv_sec = static_cast<time_t>(duration.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((duration.count() % 1000) * 1000);
    return tv;
}

}  // namespace

std::string Connection::trafficLine(const char* direction, int fd, std::string_view bytes) {
    std::string line = direction;
    line += std::to_string(fd);
    line += " > ";
    line.append(bytes.data(), bytes.size());
    return line;
}

Connection::Connection() : connected(false), sockfd(-1), deadline(std::chrono::steady_clock::time_point::max()) {}

Connection::~Connection() {
    if (connected) {
        inbuf.clear();
        outbuf.clear();
        close(sockfd);
        connected = false;
    }
}

void Connection::setDeadline(std::chrono::steady_clock::time_point until) { deadline = until; }
void Connection::clearDeadline() { deadline = std::chrono::steady_clock::time_point::max(); }
bool Connection::deadlinePassed() const { return std::chrono::steady_clock::now() >= deadline; }

void Connection::setWaitLimit(std::chrono::milliseconds limit) { currentWaitLimit = limit; }
std::chrono::milliseconds Connection::waitLimit() { return currentWaitLimit; }

bool Connection::isConnected() const { return connected; }

bool Connection::hasQueuedOutput() const { return connected && !outbuf.empty(); }

std::size_t Connection::queuedOutputBytes() const { return connected ? outbuf.size() : 0; }

void Connection::flushOutput() { _write(); }

void Connection::enableKeepAlive(std::chrono::seconds idle, std::chrono::seconds interval, int probes) {
    if (!connected)
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

int Connection::addToFdSet(fd_set* set) const {
    if (!connected)
        return -1;
    FD_SET(sockfd, set);
    return sockfd;
}

int Connection::addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const {
    if (!connected)
        return -1;
    if (wantInput || writeWaitsForInput)
        FD_SET(sockfd, readable);
    if ((!outbuf.empty() && !writeWaitsForInput) || readWaitsForOutput)
        FD_SET(sockfd, writable);
    return sockfd;
}

bool Connection::hasPendingInput() const { return connected && tls && tls->hasPendingInput(); }

void Connection::useTls(const TlsSettings& settings) { tlsSettings = settings; }

void Connection::closeLink() {
    if (!connected)
        return;
    tls.reset();
    readWaitsForOutput = false;
    writeWaitsForInput = false;
    close(sockfd);
    connected = false;
}

int Connection::Disconnect() {
    if (!connected)
        return 0;
    inbuf.clear();
    outbuf.clear();
    if (tls)
        tls->shutdown();
    tls.reset();
    readWaitsForOutput = false;
    writeWaitsForInput = false;
    connected = false;
    return close(sockfd);
}

int Connection::Connect(const struct sockaddr* address, socklen_t length) {
    if (connected)
        Disconnect();
    // A new link starts clean: half a message from a dead link must not be
    // glued to the new one, nor stale output sent to a new peer.
    inbuf.clear();
    outbuf.clear();

    sockfd = socket(address->sa_family, SOCK_STREAM, 0);
    if (sockfd < 0) {
        logMessage(Error, "Connection::Connect(): socket(2) failed", true);
        std::exit(1);
    }
    if (sockfd >= FD_SETSIZE) {
        logMessage(Error, "Connection::Connect(): socket descriptor " + std::to_string(sockfd) +
                              " does not fit in select(2) sets of " + std::to_string(FD_SETSIZE));
        close(sockfd);
        return -1;
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
    // The socket is non-blocking already, so that the connect itself can be
    // given up after the wait limit instead of the system's minutes.
    // An interrupted non-blocking connect goes on in the background like one
    // in progress; calling connect again would only report it as such.
    const int result = connect(sockfd, address, length);
    if (result < 0 && errno != EINPROGRESS && errno != EINTR) {
        logMessage(Error, "Connection::Connect(): connect(2) failed", true);
        close(sockfd);
        return -1;
    }
    connected = true;
    if (result < 0 && !finishConnect())
        return -1;
    if (tlsSettings.enabled && !startTls())
        return -1;
    return 0;
}

int Connection::Connect(const ServerAddress& server) {
    for (const ServerAddress::Endpoint& endpoint : server.endpoints) {
        if (server.endpoints.size() > 1)
            logMessage(Notice, "Connecting to " + ServerAddress::describe(endpoint));
        if (Connect(endpoint.get(), endpoint.length) == 0)
            return 0;
        if (deadlinePassed() || stopPending())
            break;
    }
    return -1;
}

// The handshake waits for the socket like the connect before it, within
// the same bounds; a failure is the library's reason and a closed link.
bool Connection::startTls() {
    tls = std::make_unique<TlsSession>();
    std::string why;
    if (!tls->start(sockfd, tlsSettings, why)) {
        logMessage(Error, "Connection::Connect(): TLS: " + why);
        closeLink();
        return false;
    }
    for (;;) {
        const TlsSession::Result result = tls->handshake();
        if (result == TlsSession::Result::Done)
            break;
        if (result == TlsSession::Result::Closed || result == TlsSession::Result::Failed) {
            logMessage(Error, "Connection::Connect(): TLS handshake with " + tlsSettings.host + " failed: " +
                                  (result == TlsSession::Result::Closed ? "the peer closed the link" : tls->failure()));
            closeLink();
            return false;
        }
        const Readiness readiness = waitUntil(result == TlsSession::Result::WantWrite);
        if (readiness == Readiness::TimedOut && !deadlinePassed())
            logMessage(Error, "Connection::Connect(): TLS handshake with " + tlsSettings.host + " timed out after " +
                                  std::to_string(currentWaitLimit.count()) + " ms");
        if (readiness != Readiness::Ready) {
            closeLink();
            return false;
        }
    }
    logMessage(Notice, "TLS with " + tlsSettings.host + ": " + tls->describe() +
                           (tlsSettings.verify ? ", certificate verified" : ", certificate not verified"));
    return true;
}

// Waits for a connect in progress to end; on failure the socket is closed.
bool Connection::finishConnect() {
    const Readiness readiness = waitUntil(true);
    if (readiness == Readiness::TimedOut) {
        if (!deadlinePassed())
            logMessage(Error, "Connection::Connect(): connect(2) timed out after " +
                                  std::to_string(currentWaitLimit.count()) + " ms");
        closeLink();
        return false;
    }
    if (readiness == Readiness::Closed && stopPending()) {
        closeLink();
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (readiness == Readiness::Closed || getsockopt(sockfd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
        error = errno;
    if (error != 0) {
        errno = error;
        logMessage(Error, "Connection::Connect(): connect(2) failed", true);
        closeLink();
        return false;
    }
    return true;
}

void Connection::_read() {
    if (!connected)
        return;
    char buffer[4096];
    for (std::size_t taken = 0; taken < kMaxReadAtOnce && inbuf.size() < kMaxBufferedInput;) {
        std::size_t got = 0;
        switch (receive(buffer, sizeof buffer, got)) {
        case Transfer::Moved:
            inbuf.append(buffer, got);
            taken += got;
            if (logEnabled(Debug))
                logMessage(Debug, trafficLine("from ", sockfd, std::string_view(buffer, got)));
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

void Connection::_write() {
    if (!connected || outputHeld)
        return;
    while (!outbuf.empty()) {
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

Connection::Readiness Connection::waitUntil(bool forWriting) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = std::min(deadline, Clock::now() + currentWaitLimit);
    for (;;) {
        // Rounded up, so that a wait that times out has reached its end.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0)
            return Readiness::TimedOut;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(sockfd, &set);
        timeval timeout = toTimeval(left);
        const int ready = selectUnlessStopping(sockfd + 1, forWriting ? nullptr : &set,
                                               forWriting ? &set : nullptr, &timeout);
        if (ready > 0)
            return Readiness::Ready;
        // A stop of the daemon ends every wait at once.
        if (ready < 0 && (errno != EINTR || stopPending()))
            return Readiness::Closed;
    }
}

void Connection::giveUpWaiting(const std::string& why) {
    if (!deadlinePassed() && !stopPending())
        logMessage(Notice, why + " within " + std::to_string(currentWaitLimit.count()) + " ms; closing the link");
    closeLink();
}

// Messages that were complete when the peer closed the link are still
// handed out; only then does the closed link count.
bool Connection::waitMessage(std::string& out) {
    for (;;) {
        if (readMessage(out))
            return true;
        if (!connected)
            return false;
        if (waitUntil(readWaitsForOutput) != Readiness::Ready) {
            giveUpWaiting("Connection::waitMessage(): no message from descriptor " + std::to_string(sockfd));
            return false;
        }
    }
}

bool Connection::sendMessage(const std::string& message) {
    if (!connected)
        return false;
    // What must be on the wire before we go on cannot wait for a release.
    outputHeld = false;
    bool writable = waitUntil(true) == Readiness::Ready;
    if (writable)
        writeMessage(message);
    while (writable && connected && !outbuf.empty()) {
        writable = waitUntil(!writeWaitsForInput) == Readiness::Ready;
        if (writable)
            _write();
    }
    if (!connected)
        return false;
    if (!writable) {
        giveUpWaiting("Connection::sendMessage(): descriptor " + std::to_string(sockfd) + " took no output");
        return false;
    }
    return true;
}
