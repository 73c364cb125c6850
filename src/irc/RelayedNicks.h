// Hub users speaking in the channel under their own nicks (the IRCv3
// draft/relaymsg capability): whether the server lets the bot do it in this
// session, under which nick each user speaks, and what the server answers
// each relayed line, in turn: the line itself, seen back with the bot's
// nick in its tag, or a FAIL, after which the line goes out as the bot's.
//
// A line someone else said waits in the pacing queue in a held form, the
// bot's own line followed by where its text begins and the speaker, so
// that the form it goes out in is chosen when it goes.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/LogLimiter.h"
#include "irc/IRCMessage.h"

class RelayedNicks {
public:
    // Relayed lines sent and not yet answered; a server that never answers
    // cannot make them many.
    static constexpr std::size_t kMaxAwaitingAnswer = 64;
    // Nicks the server refused in this session.
    static constexpr std::size_t kMaxRefusedNicks = 256;
    // A nick length for a server that names none.
    static constexpr std::size_t kDefaultNickLength = 64;

    // A held line taken apart.
    struct Held {
        std::string_view line;     // the line as the bot says it
        std::size_t textStart;     // where the text begins in it, after the speaker's tag
        std::string_view speaker;
    };
    // line, whose text begins at textStart, said by speaker, as held; it
    // holds no NUL, which neither a line nor a speaker may.
    static void hold(std::string& line, std::size_t textStart, std::string_view speaker);
    // Nothing for a line not held.
    static std::optional<Held> readHeld(std::string_view stored);

    // The suffix that ends every relayed nick.
    void setSuffix(const std::string& suffix) { nickSuffix = suffix; }
    // A new log-in: off until the server grants them; refusals forgotten.
    void startOver();
    void setNickLength(std::size_t bytes);
    // The server granted them with these separators; the first is used.
    // False when it named none.
    bool grant(std::string_view separators);
    bool on() const { return !separator.empty(); }
    // "carol/dc" for carol.
    std::string nickOf(std::string_view speaker) const;

    // The RELAYMSG line that says held in #channel, or nothing when they are
    // off, the nick was refused, or the line would not fit the protocol as
    // sent or as others receive it (receivedHead: the bytes before the
    // text there, the nick apart). mapping compares nicks as the server does.
    std::string lineFor(const Held& held, const std::string& channel, std::size_t receivedHead,
                        CaseMapping mapping) const;
    // A relayed line went out; stored is its held form.
    void sent(const std::string& stored);
    // The server sent a relayed line of ours back.
    void answered();
    // The server refused the oldest unanswered line ("FAIL RELAYMSG CODE
    // ... :why", as line): its held form, to be said as the bot's. A
    // refused nick, or a blank line, concerns that nick or line; anything
    // else (no rights in the channel, relaying off on the server) all
    // relayed lines until the next log-in. One log line per cause.
    std::optional<std::string> refused(const IRCMessage& message, std::string_view line, CaseMapping mapping);
    void linkLost() { awaitingAnswer.clear(); }

private:
    bool isRefused(std::string_view nick, CaseMapping mapping) const;

    std::string nickSuffix = "dc";
    std::string separator;        // empty while the server does not let us
    std::size_t nickLength = kDefaultNickLength;
    std::deque<std::string> awaitingAnswer;  // held forms, in the order the server answers them
    std::vector<std::string> refusedNicks;   // in this session
    LogLimiter refusalLines{"IRCClient: relayed nicks refused"};
};
