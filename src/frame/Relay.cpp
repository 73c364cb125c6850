#include "frame/Relay.h"

#include <algorithm>
#include <optional>

#include "frame/Log.h"
#include "frame/stopSignals.h"

Relay::Relay(Config& settings, Translator& lineTranslator, IRCClient& ircClient, DCClient& dcClient)
    : config(settings), translator(lineTranslator), irc(ircClient), dc(dcClient) {}

int Relay::logIn() {
    if (!irc.setConfig(config.irc)) {
        logMessage(Error, "Incorrect config for IRC", true);
        return 1;
    }
    if (!dc.setConfig(config.dc)) {
        logMessage(Error, "Incorrect config for DC++", true);
        return 1;
    }
    // Checked before any connection, so that a typing error costs no log-in.
    if (!HubCharset::isKnown(config.dc.dc_encoding)) {
        logMessage(Error, "Unknown dc_encoding \"" + config.dc.dc_encoding +
                              "\": iconv(3) has no such character set (try UTF-8, CP1251, CP1252, KOI8-R)");
        return 1;
    }
    logMessage(Notice, "Connecting to IRC... ");
    const bool ircUp = irc.Connect();
    if (stopPending())
        return stop();
    if (!ircUp) {
        logMessage(Error, "ERROR");
        return 2;
    }
    logMessage(Notice, "OK");
    logMessage(Notice, "Connecting to DC++... ");
    const bool hubUp = dc.Connect();
    if (stopPending())
        return stop();
    if (!hubUp) {
        logMessage(Error, "ERROR");
        return 2;
    }
    logMessage(Notice, "OK");
    config = Config(irc.getConfig(), dc.getConfig(), config);
    if (!translator.setConfig(config)) {
        logMessage(Error, "Incorrect config for Translator");
        return 1;
    }
    return 0;
}

// Each pass logs in again to a side that is due, then hands on what is
// complete in both receive buffers (also what a log-in left there), at most
// a bounded share of each, then sleeps. A side counts as down only once what
// it sent before the end of its stream has been handled.
int Relay::run() {
    while (!stopped) {
        logInAgainWhenDue(irc, "IRC connection closed. Trying to reconnect...");
        if (!stopPending())
            logInAgainWhenDue(dc, "DC++ connection closed. Trying to reconnect...");
        if (stopPending())
            return stop();
        relayOnePass();
        waitForTraffic();
    }
    return 0;
}

// What is queued goes out first, then QUIT and $Quit, all within the
// goodbye time; a peer that takes nothing does not hold the stop up.
int Relay::stop() {
    acknowledgeStop();
    const auto until = std::chrono::steady_clock::now() + kGoodbyeTime;
    const bool ircQuit = irc.Disconnect(std::string("brivox stopped by ") + stopSignalName(), until);
    const bool hubQuit = dc.Disconnect(until);
    logMessage(Notice, std::string("Stopped by ") + stopSignalName() + (ircQuit ? "; quit IRC" : "; IRC was down") +
                           (hubQuit ? ", quit the hub" : ", the hub was down"));
    stopped = true;
    return 0;
}

// What the pass produces for each side goes out in one write per socket.
void Relay::relayOnePass() {
    translator.setServerView(irc.serverView());
    irc.holdOutput();
    dc.holdOutput();
    const bool ircBacklog = relayIRCToHub();
    const bool hubBacklog = relayHubToIRC();
    backlog = ircBacklog || hubBacklog;
    irc.tick();
    dc.tick();
    irc.releaseOutput();
    dc.releaseOutput();
    if (message.capacity() > kShrinkAbove)
        std::string().swap(message);
}

// Sleeps until an open link has something to read, a side with queued
// output can take it, or a client has work that waits for a time. A side is
// not read while the other cannot keep up with what it would be sent.
void Relay::waitForTraffic() {
    fd_set readable;
    fd_set writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    const int ircSocket = irc.addToFdSets(&readable, &writable, !congested(dc));
    const int dcSocket = dc.addToFdSets(&readable, &writable, !congested(irc));
    highestDescriptor = std::max({highestDescriptor, ircSocket, dcSocket});
    timeval storage;
    // Errors and interruptions (a SIGHUP, a stop) just start the next pass.
    selectUnlessStopping(highestDescriptor + 1, &readable, &writable, waitLimit(storage));
    flushQueuedOutput();
}

template <typename Client>
bool Relay::congested(const Client& client) const {
    return client.queuedOutputBytes() > kOutputHighWater;
}

// No time-out while both sides are in their channels with nothing queued:
// an idle daemon uses no processor time. A backlog is served at once, and
// so is input TLS holds for a side that will be read.
timeval* Relay::waitLimit(timeval& storage) const {
    std::optional<std::chrono::steady_clock::duration> wait = irc.nextWakeIn();
    if (backlog || (irc.hasPendingInput() && !congested(dc)) || (dc.hasPendingInput() && !congested(irc)))
        wait = std::chrono::steady_clock::duration::zero();
    if (const auto dcWait = dc.nextWakeIn())
        wait = wait ? std::min(*wait, *dcWait) : *dcWait;
    if (!wait)
        return nullptr;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(*wait).count();
    storage.tv_sec = static_cast<time_t>(micros / 1000000);
    storage.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    return &storage;
}

void Relay::flushQueuedOutput() {
    if (irc.hasQueuedOutput())
        irc.flushOutput();
    if (dc.hasQueuedOutput())
        dc.flushOutput();
}

// Takes a pass's share of what `from` has complete, handing each message to
// relayOne; true when it stopped at the share with more possibly waiting.
template <typename Client, typename RelayOne>
bool Relay::takeShare(Client& from, RelayOne relayOne) {
    std::size_t bytes = 0;
    for (std::size_t count = 0; count < kMaxMessagesPerPass && bytes < kMaxBytesPerPass; ++count) {
        if (!from.getMessage(message))
            return false;
        bytes += message.size();
        relayOne();
    }
    return true;
}

bool Relay::relayIRCToHub() {
    if (congested(dc))
        return false;
    return takeShare(irc, [this] {
        if (translator.IRCtoDC(message, message))
            dc.sendMessage(message);
    });
}

// One hub message may become several IRC lines.
bool Relay::relayHubToIRC() {
    if (congested(irc))
        return false;
    return takeShare(dc, [this] {
        if (translator.DCtoIRC(message, ircLines))
            for (const std::string& line : ircLines)
                irc.sendMessage(line);
    });
}

// A side that is down tells, through its wake-up time, when it is due.
template <typename Client>
void Relay::logInAgainWhenDue(Client& client, const char* closedWarning) {
    if (client.state() != LinkState::Down || client.nextWakeIn() > std::chrono::steady_clock::duration::zero())
        return;
    logMessage(Warning, closedWarning);
    if (client.Connect())
        reconfigureTranslatorIfNicksChanged();
}

// The hub may have given us another nick on reconnection; our chat lines
// must carry it and our echo must still be recognised.
void Relay::reconfigureTranslatorIfNicksChanged() {
    const Config& current = translator.getConfig();
    if (current.dc.dc_nick == dc.getConfig().dc_nick)
        return;
    Config updated(irc.getConfig(), dc.getConfig(), config);
    if (translator.setConfig(updated))
        config = updated;
}
