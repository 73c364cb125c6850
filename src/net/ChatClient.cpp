#include "net/ChatClient.h"

#include <algorithm>

#include "frame/Log.h"
#include "net/ServerAddress.h"

namespace {

std::chrono::milliseconds currentPatience = ChatClient::kDefaultPatience;

std::string milliseconds(std::chrono::milliseconds duration) { return std::to_string(duration.count()) + " ms"; }

// "now", "in 10 s": when a side that went down is tried again.
std::string whenNext(std::chrono::steady_clock::duration wait) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
    return seconds <= 0 ? "now" : "in " + std::to_string(seconds) + " s";
}

}  // namespace

void ChatClient::setPatience(std::chrono::milliseconds patience) { currentPatience = patience; }
std::chrono::milliseconds ChatClient::patience() { return currentPatience; }

ChatClient::ChatClient(Connection& connection, const ClientNames& names)
    : link(connection), clientNames(names), droppedLines(std::string(names.client) + ": reports of dropped chat") {}

ChatClient::~ChatClient() = default;

void ChatClient::setServer(const std::string& serverHost, std::int32_t serverPort, const TlsSettings& tls) {
    host = serverHost;
    port = serverPort;
    link.useTls(tls);
}

void ChatClient::setReconnectDelays(std::chrono::seconds first, std::chrono::seconds longest) {
    side.setDelays(first, longest);
}

void ChatClient::tick(Clock::time_point now) {
    if (side.is(LinkState::Down)) {
        if (side.untilNextAttempt(now) == Clock::duration::zero())
            startAttempt(now);
        return;
    }
    if (side.is(LinkState::LoggingIn) && now >= side.attemptStartedAt() + patience()) {
        logInTimedOut();
        return;
    }
    onTick(now);
}

std::optional<ChatClient::Clock::duration> ChatClient::nextWakeIn(Clock::time_point now) const {
    if (side.is(LinkState::Down))
        return side.untilNextAttempt(now);
    std::optional<Clock::duration> wake = protocolWakeIn(now);
    if (side.is(LinkState::LoggingIn)) {
        const Clock::duration bound = std::max(Clock::duration::zero(), side.attemptStartedAt() + patience() - now);
        wake = wake ? std::min(*wake, bound) : bound;
    }
    return wake;
}

int ChatClient::addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const {
    return link.addToFdSets(readable, writable, wantInput);
}

bool ChatClient::inputWaiting() const {
    return link.hasPendingInput() || (!side.is(LinkState::Down) && link.phase() == Connection::Phase::Closed);
}

// Name resolution is the one step that blocks: getaddrinfo(3) has no
// asynchronous form in POSIX. Everything after it waits in the loop.
void ChatClient::startAttempt(Clock::time_point now) {
    side.enter(LinkState::LoggingIn, now);
    lastHeard.clear();
    refusalPasses = false;
    onAttemptStart();
    openLink();
}

void ChatClient::openLinkAgain() {
    link.Disconnect();
    lastHeard.clear();
    openLink();
}

void ChatClient::openLink() {
    const ServerAddress server = ServerAddress::resolve(host, port);
    if (server.outcome == ServerAddress::Outcome::NameNotFound) {
        logMessage(Error, "Can not resolve name \"" + host + "\"");
        logMessage(Error, std::string(clientNames.resolver) + ": gethostbyname(3) failed: " + server.resolverError);
        endLink(false);
        return;
    }
    if (link.certificatesUnchecked())
        logMessage(Warning, std::string(clientNames.client) + "::Connect(): " + clientNames.verifyKey + " is no: the " +
                                clientNames.peer + "'s certificate is not checked");
    afterOpening(link.Connect(server));
}

void ChatClient::onReady(const fd_set& readable, const fd_set& writable) {
    const int fd = link.descriptor();
    const Connection::Phase phase = link.phase();
    if (fd < 0 || (phase != Connection::Phase::Connecting && phase != Connection::Phase::Handshaking))
        return;
    afterOpening(link.continueOpening(FD_ISSET(fd, &readable), FD_ISSET(fd, &writable)));
}

void ChatClient::afterOpening(Connection::Opening opening) {
    if (opening == Connection::Opening::Open)
        onLinkOpen();
    else if (opening == Connection::Opening::Failed)
        openingFailed();
}

void ChatClient::openingFailed() {
    logMessage(Error, std::string(clientNames.client) + "::Connect(): cann't connect to requested address");
    endLink(false);
}

// The bound covers the whole attempt; the line says which step overran it.
void ChatClient::logInTimedOut() {
    const std::string bound = milliseconds(patience());
    switch (link.phase()) {
    case Connection::Phase::Connecting:
        logMessage(Error, "Connection::Connect(): connect(2) timed out after " + bound);
        openingFailed();
        return;
    case Connection::Phase::Handshaking:
        logMessage(Error, "Connection::Connect(): TLS handshake with " + link.tlsHost() + " timed out after " + bound);
        openingFailed();
        return;
    case Connection::Phase::Open:
    case Connection::Phase::Closed:
        break;
    }
    giveUp("no log-in within " + bound + logInProgress() + saidLast());
}

std::string ChatClient::saidLast() const {
    const std::string words = lastWords();
    return words.empty() ? std::string() : "; it said last: \"" + printable(words) + "\"";
}

void ChatClient::peerClosedTheLink() {
    if (side.is(LinkState::InChannel) || side.is(LinkState::OutOfChannel))
        endLink(true);
    else
        onClosedDuringLogIn();
}

void ChatClient::onClosedDuringLogIn() {
    giveUp(std::string("the ") + clientNames.peer + " closed the link" + saidLast());
}

void ChatClient::giveUpForNow(const std::string& why, std::optional<std::chrono::seconds> wait) {
    const Clock::time_point now = Clock::now();
    if (wait)
        side.notBefore(now + *wait);
    refusalPasses = true;
    sayGoodbye("");
    close();
    logMessage(Warning, std::string(clientNames.client) + ": log-in refused for now: " + why + "; trying again " +
                            whenNext(side.untilNextAttempt(now)));
}

void ChatClient::giveUp(const std::string& why) {
    if (!why.empty())
        logMessage(Error, std::string(clientNames.client) + ": log-in given up: " + why);
    // A courtesy where the protocol has one; written only if the socket
    // takes it at once.
    sayGoodbye("");
    endLink(false);
}

void ChatClient::dropLink(const std::string& why) {
    if (!why.empty())
        logMessage(Warning, std::string(clientNames.client) + ": " + why);
    endLink(true);
}

// The warning comes at the moment of the loss, and only when there will be
// a next attempt: a first log-in that fails ends the run instead.
void ChatClient::endLink(bool sessionLost) {
    close();
    if (!side.everUp())
        return;
    std::string warning = std::string(clientNames.side) + " connection closed. Trying to reconnect... " +
                          whenNext(side.untilNextAttempt(Clock::now()));
    if (sessionLost && !lastHeard.empty())
        warning += "; the " + std::string(clientNames.peer) + " said last: \"" + printable(lastHeard) + "\"";
    logMessage(Warning, warning);
}

void ChatClient::enter(LinkState next, Clock::time_point now) {
    if (next == LinkState::Down || next == LinkState::InChannel)
        reportDropped();
    side.enter(next, now);
}

void ChatClient::reportDropped() {
    if (dropped > 0 && droppedLines.admits(Warning))
        logMessage(Warning, std::string(clientNames.client) + ": dropped " + std::to_string(dropped) +
                                " lines for " + chatPlace() + " while not in it");
    dropped = 0;
}

void ChatClient::say(std::string_view text, bool action, LineKind kind, const Attribution& who) {
    if (!side.is(LinkState::Down) && takeChat(text, action, kind, who))
        return;
    ++dropped;
    if (side.is(LinkState::Down) || side.is(LinkState::LoggingIn))
        ++drops.sideDown;
    else
        ++drops.outOfChannel;
}

DropCounts ChatClient::dropCounts() const {
    DropCounts counts = drops;
    const LinePacer::Drops queue = queueDrops();
    counts.tooOld += queue.expired;
    counts.overQueueBound += queue.overflowed;
    return counts;
}

std::string ChatClient::describeState() const {
    switch (side.state()) {
    case LinkState::Down:
        return "down";
    case LinkState::LoggingIn:
        return "logging in";
    case LinkState::Joining:
        return "joining " + chatPlace();
    case LinkState::InChannel:
        return "in " + chatPlace();
    case LinkState::OutOfChannel:
        return "out of " + chatPlace();
    }
    return std::string();
}

bool ChatClient::sayGoodbye(const std::string& reason) {
    if (!link.isConnected())
        return false;
    const std::optional<std::string> words = goodbye(reason);
    if (!words)
        return false;
    link.releaseOutput();
    link.writeMessage(*words);
    return true;
}

// The one place a side goes down.
void ChatClient::close() {
    if (side.is(LinkState::Down))
        return;
    link.Disconnect();
    onLinkLost();
    enter(LinkState::Down);
}
