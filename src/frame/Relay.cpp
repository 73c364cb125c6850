#include "frame/Relay.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "frame/Log.h"

Relay::Relay(Config& settings, Translator& lineTranslator, IRCClient& ircClient, DCClient& dcClient)
    : config(settings),
      translator(lineTranslator),
      irc(ircClient),
      dc(dcClient),
      configuredIRC(settings.irc),
      configuredDC(settings.dc) {}

int Relay::logIn() {
    if (!irc.setConfig(config.irc)) {
        logMessage(Error, "Incorrect config for IRC", true);
        return 1;
    }
    if (!dc.setConfig(config.dc)) {
        logMessage(Error, "Incorrect config for DC++", true);
        return 1;
    }
    configuredIRC = config.irc;
    configuredDC = config.dc;
    logMessage(Notice, "Connecting to IRC... ");
    if (!irc.Connect()) {
        logMessage(Error, "ERROR");
        return 2;
    }
    logMessage(Notice, "OK");
    logMessage(Notice, "Connecting to DC++... ");
    if (!dc.Connect()) {
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

void Relay::run() {
    for (;;) {
        waitForTraffic();
        flushQueuedOutput();
        relayIRCToHub();
        keepUp(dc, configuredDC, dcSide);
        relayHubToIRC();
        irc.releasePaced();
        keepUp(irc, configuredIRC, ircSide);
    }
}

// Sleeps until a logged-in side has something to read, a side with queued
// output can take it, or a side that is down is due to be tried again.
void Relay::waitForTraffic() {
    fd_set readable;
    fd_set writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    // A side that is not logged in is left out: a link left open by a
    // refused nick would otherwise wake the loop again and again.
    const int ircFd = irc.isConnected() ? irc.addToFdSet(&readable) : -1;
    const int dcFd = dc.isConnected() ? dc.addToFdSet(&readable) : -1;
    highestDescriptor = std::max({highestDescriptor, ircFd, dcFd});
    if (ircFd >= 0 && irc.hasQueuedOutput())
        FD_SET(ircFd, &writable);
    if (dcFd >= 0 && dc.hasQueuedOutput())
        FD_SET(dcFd, &writable);
    timeval storage;
    // Errors and interruptions (a SIGHUP) just start the next pass.
    select(highestDescriptor + 1, &readable, &writable, nullptr, waitLimit(storage));
    noteLostSides();
}

// No time-out while both sides are up and no paced line is waiting: an idle
// daemon uses no processor time.
timeval* Relay::waitLimit(timeval& storage) const {
    const auto now = ReconnectSchedule::Clock::now();
    std::optional<ReconnectSchedule::Clock::duration> wait = irc.nextPacedLineIn();
    if (!irc.isConnected() || !dc.isConnected()) {
        auto untilRetry = std::chrono::duration_cast<ReconnectSchedule::Clock::duration>(kDownWaitLimit);
        if (!irc.isConnected())
            untilRetry = std::min(untilRetry, ircSide.schedule.untilDue(now));
        if (!dc.isConnected())
            untilRetry = std::min(untilRetry, dcSide.schedule.untilDue(now));
        wait = wait ? std::min(*wait, untilRetry) : untilRetry;
    }
    if (!wait)
        return nullptr;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(*wait).count();
    storage.tv_sec = static_cast<time_t>(micros / 1000000);
    storage.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    return &storage;
}

void Relay::noteLostSides() {
    noticeLoss(irc, configuredIRC, ircSide);
    noticeLoss(dc, configuredDC, dcSide);
}

// A new log-in after a lost link starts from the configured settings, so
// that the nick does not grow by one "_" per reconnection. Between failed
// attempts the client keeps what the server made of the nick (a hub that
// refused it and closed the link).
template <typename Client, typename Settings>
void Relay::noticeLoss(Client& client, const Settings& configured, SideState& side) {
    if (!side.up || client.isConnected())
        return;
    side.up = false;
    side.schedule.lost(ReconnectSchedule::Clock::now());
    client.setConfig(configured);
}

void Relay::flushQueuedOutput() {
    if (irc.hasQueuedOutput())
        irc.flushOutput();
    if (dc.hasQueuedOutput())
        dc.flushOutput();
}

void Relay::relayIRCToHub() {
    while (irc.getMessage(message))
        if (translator.IRCtoDC(message, message))
            dc.sendMessage(message);
}

void Relay::relayHubToIRC() {
    while (dc.getMessage(message))
        if (translator.DCtoIRC(message, message))
            irc.sendMessage(message);
}

// Logs in again to a side that is down once its schedule says so.
template <typename Client, typename Settings>
void Relay::keepUp(Client& client, const Settings& configured, SideState& side) {
    noticeLoss(client, configured, side);
    if (client.isConnected() || !side.schedule.due(ReconnectSchedule::Clock::now()))
        return;
    logMessage(Warning, side.closedWarning);
    if (client.Connect()) {
        side.up = true;
        side.schedule.succeeded();
        reconfigureTranslatorIfNicksChanged();
    } else {
        side.schedule.failed(ReconnectSchedule::Clock::now());
    }
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
