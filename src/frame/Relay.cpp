#include "frame/Relay.h"

#include <algorithm>
#include <optional>

#include "frame/Log.h"
#include "frame/LogLimiter.h"
#include "frame/statusLine.h"
#include "frame/stopSignals.h"

namespace {

// Rounded up, so that a side whose time it is finds it due after the wait.
timeval toTimeval(std::chrono::steady_clock::duration wait) {
    const auto micros = std::max<long long>(std::chrono::ceil<std::chrono::microseconds>(wait).count(), 0);
    return timeval{static_cast<time_t>(micros / 1000000), static_cast<suseconds_t>(micros % 1000000)};
}

}  // namespace

Relay::Relay(Translator& lineTranslator, ChatClient& ircClient, ChatClient& hubClient, const RelayOptions& options)
    : translator(lineTranslator), irc(ircClient), hub(hubClient), sides{{irc, hub}, {hub, irc}},
      presence(options.presence), ircPresence(options.channel, "IRC"), hubPresence("the hub", "the hub") {
    answers.setPlaces(options.channel, options.server, options.hub);
}

// Both log-ins start in the first pass and go on side by side: a slow peer
// holds up nothing but its own side. A side that fails its first log-in
// ends the run; later losses are logged in again on each side's schedule.
int Relay::run() {
    for (const Side& side : sides)
        logMessage(Notice, std::string("Connecting to ") + side.client.names().side + "... ");
    for (;;) {
        if (stopPending())
            return stop();
        if (takeStatusRequest())
            logStatus();
        relayOnePass();
        if (firstLogInFailed) {
            farewell("");
            return 2;
        }
        waitForTraffic();
    }
}

// "OK" as soon as the side is in its channel for the first time; "ERROR"
// when its first attempt ended otherwise (the lines before it say why).
void Relay::noteFirstLogIn(Side& side) {
    if (!side.firstLogInPending)
        return;
    if (side.client.everUp()) {
        side.firstLogInPending = false;
        logMessage(Notice, "OK");
        return;
    }
    const LinkState state = side.client.state();
    if (side.client.attemptsStarted() == 0 || (state != LinkState::Down && state != LinkState::OutOfChannel))
        return;
    // A refusal that passes (too soon after the last session, a full hub)
    // is no fault of the settings: the side tries again on its schedule.
    if (side.client.refusedForNow())
        return;
    side.firstLogInPending = false;
    logMessage(Error, "ERROR");
    firstLogInFailed = true;
}

// What is queued goes out first, then QUIT and $Quit, all within the
// goodbye time; a peer that takes nothing does not hold up the other.
int Relay::stop() {
    logStatus();
    const Goodbyes said = farewell(std::string("brivox stopped by ") + stopSignalName());
    const auto describe = [](Goodbye goodbye, const char* quit, const char* down, const char* undelivered) {
        return goodbye == Goodbye::Delivered ? quit : goodbye == Goodbye::NotSaid ? down : undelivered;
    };
    logMessage(Notice, std::string("Stopped by ") + stopSignalName() + "; " +
                           describe(said.irc, "quit IRC", "IRC was down", "IRC took no QUIT") + ", " +
                           describe(said.hub, "quit the hub", "the hub was down", "the hub took no goodbye"));
    return 0;
}

// Both goodbyes are written side by side, in the loop's one wait, until
// both are out or the goodbye time is over; then both links close.
Relay::Goodbyes Relay::farewell(const std::string& reason) {
    // A second stop signal does not cut the goodbye short.
    acknowledgeStop();
    const bool ircSaid = irc.sayGoodbye(reason);
    const bool hubSaid = hub.sayGoodbye(reason);
    const Clock::time_point until = Clock::now() + kGoodbyeTime;
    while ((irc.hasQueuedOutput() || hub.hasQueuedOutput()) && Clock::now() < until)
        waitForTraffic(until);
    const auto outcome = [](bool said, const ChatClient& client) {
        if (!said)
            return Goodbye::NotSaid;
        return client.linkOpen() && !client.hasQueuedOutput() ? Goodbye::Delivered : Goodbye::Undelivered;
    };
    const Goodbyes said{outcome(ircSaid, irc), outcome(hubSaid, hub)};
    irc.close();
    hub.close();
    return said;
}

// Each pass hands on a bounded share of what each side has complete (also
// what a log-in left there), then does the timed work of both sides, and
// what it produced goes out in one write per socket.
void Relay::relayOnePass() {
    const Clock::time_point now = Clock::now();
    irc.beginPass(now);
    hub.beginPass(now);
    irc.holdOutput();
    hub.holdOutput();
    // Decided for both before either is served, so that what IRC's share
    // makes us answer cannot keep the hub from its own share.
    const bool ircTakesInput = takesInput(sides[0]);
    const bool hubTakesInput = takesInput(sides[1]);
    const bool ircBacklog = ircTakesInput && relayIRCToHub();
    noteFirstLogIn(sides[0]);
    const bool hubBacklog = hubTakesInput && relayHubToIRC();
    noteFirstLogIn(sides[1]);
    backlog = ircBacklog || hubBacklog;
    tellPresence();
    for (Side& side : sides) {
        side.client.tick(now);
        noteFirstLogIn(side);
    }
    irc.endPass();
    hub.endPass();
    irc.releaseOutput();
    hub.releaseOutput();
    LogLimiter::flushAll();
}

// A side is read only while both it and the other take what they are sent:
// what it says may need an answer of its own (a PONG) as well as a line on
// the other side.
bool Relay::relayIRCToHub() {
    return irc.serve([this](const ChatMessage& chat) {
        if (chat.kind != ChatKind::Public)
            handleOther(chat, true);
        else if (translator.IRCtoDC(chat, irc, hub.chatRoom(chat.action), hubTexts))
            for (const std::string& text : hubTexts) {
                hub.sendChat(text);
                ++relayedToHub;
            }
    });
}

// One hub message may become several IRC lines.
bool Relay::relayHubToIRC() {
    return hub.serve([this](const ChatMessage& chat) {
        if (chat.kind != ChatKind::Public)
            handleOther(chat, false);
        else if (translator.DCtoIRC(chat, hub, irc.chatRoom(chat.action), ircTexts))
            for (const std::string& text : ircTexts) {
                irc.sendChat(text, chat.action, Attribution{chat.speaker, translator.tagBytes()});
                ++relayedToIrc;
            }
    });
}

void Relay::logStatus() const {
    const Clock::time_point now = Clock::now();
    const auto report = [now](const ChatClient& client) {
        const SideState& side = client.sideState();
        return SideReport{client.names().side, client.describeState(), now - side.since(), side.logIns(),
                          side.losses(), client.dropCounts()};
    };
    logMessage(Notice, statusLine(now - startedAt, report(irc), report(hub), relayedToHub, relayedToIrc));
}

// A private message is answered on its own side; comings and goings are
// gathered for the other, when the operator wants them told.
void Relay::handleOther(const ChatMessage& chat, bool fromIrc) {
    ChatClient& asked = fromIrc ? irc : hub;
    ChatClient& other = fromIrc ? hub : irc;
    if (!translator.crosses(chat, asked))
        return;
    if (chat.kind == ChatKind::Private) {
        if (const auto lines = answers.answer(chat, fromIrc, hub, other))
            asked.sendPrivate(chat.speaker, *lines);
    } else if (presence) {
        (fromIrc ? ircPresence : hubPresence).note(chat.kind, chat.speaker);
    }
}

// Through the pacing, after the chat that waits.
void Relay::tellPresence() {
    for (const std::string& notice : ircPresence.take()) {
        hub.sendNotice(notice);
        ++relayedToHub;
    }
    for (const std::string& notice : hubPresence.take()) {
        irc.sendNotice(notice);
        ++relayedToIrc;
    }
}

bool Relay::congested(const ChatClient& client) const { return client.queuedOutputBytes() > kOutputHighWater; }

bool Relay::takesInput(const Side& side) const { return !congested(side.client) && !congested(side.other); }

// Sleeps until a link has something to read, a side with queued output
// can take it, a link being opened is ready, or a side has timed work. A
// side is not read while the other cannot keep up with what it would be
// sent. While the goodbyes go out, only output is waited for, until the
// goodbye time is over.
void Relay::waitForTraffic(std::optional<Clock::time_point> goodbyeUntil) {
    fd_set readable;
    fd_set writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    for (const Side& side : sides)
        if (!goodbyeUntil || side.client.hasQueuedOutput())
            highestDescriptor = std::max(highestDescriptor, side.client.addToFdSets(&readable, &writable,
                                                                                    !goodbyeUntil && takesInput(side)));
    timeval storage;
    timeval* limit = goodbyeUntil ? &(storage = toTimeval(*goodbyeUntil - Clock::now())) : waitLimit(storage);
    // Errors and interruptions (a SIGHUP, a stop) just start the next pass,
    // with nothing found ready.
    if (selectUnlessStopping(highestDescriptor + 1, &readable, &writable, limit) < 0) {
        FD_ZERO(&readable);
        FD_ZERO(&writable);
    }
    for (const Side& side : sides) {
        if (!goodbyeUntil)
            side.client.onReady(readable, writable);
        if (side.client.hasQueuedOutput())
            side.client.flushOutput();
    }
}

// No time-out while both sides are in their channels with nothing queued:
// an idle daemon uses no processor time. A backlog is served at once, and
// so is input waiting for a side that will be read.
timeval* Relay::waitLimit(timeval& storage) const {
    std::optional<Clock::duration> wait;
    for (const Side& side : sides) {
        const std::optional<Clock::duration> sideWait = side.client.nextWakeIn();
        if (sideWait)
            wait = wait ? std::min(*wait, *sideWait) : *sideWait;
        if (side.client.inputWaiting() && takesInput(side))
            wait = Clock::duration::zero();
    }
    for (const PresenceNotices* notices : {&ircPresence, &hubPresence})
        if (const auto due = notices->dueIn(Clock::now()))
            wait = wait ? std::min(*wait, *due) : *due;
    if (backlog)
        wait = Clock::duration::zero();
    if (!wait)
        return nullptr;
    storage = toTimeval(*wait);
    return &storage;
}
