// One side of the relay: the bot's client on one chat server, the IRC
// server or the hub. Each protocol derives from it and supplies its log-in
// and the meaning of its messages; what every side does alike is written
// here once: opening the link without waiting, the time bound of a log-in,
// the schedule of the next attempt, what is logged when a link is lost, and
// chat for a side that cannot take it. The relay loop drives it through
// tick, onReady and serve, and what crosses between two sides is chat
// (speaker, text, action), never a wire line.
//
// An abstract class rather than a template parameter of the loop: which
// hub protocol a run speaks follows from its configuration, at run time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/select.h>
#include <vector>

#include "frame/LogLimiter.h"
#include "frame/printable.h"
#include "net/Connection.h"
#include "net/LinePacer.h"
#include "net/MemberList.h"
#include "net/SideState.h"

// What a side hands over besides public chat.
enum class ChatKind {
    Public,   // said in the channel or main chat
    Private,  // said to the bot alone
    Joined,   // the speaker came into the channel or onto the hub
    Left,     // ... left it
    Kicked,   // ... was kicked out of it
    Quit,     // ... left the network
};

// A line of chat as people said it, in UTF-8, without the protocol's
// framing or the speaker's tag, or one of the other things people do. The
// views are valid while it is delivered.
struct ChatMessage {
    std::string_view speaker;  // the nick of who said or did it
    std::string_view text;     // what was said
    bool action = false;       // a "/me" on the hub, a CTCP ACTION on IRC
    ChatKind kind = ChatKind::Public;
};

// Chat for a side that it did not deliver, by why.
struct DropCounts {
    unsigned long tooOld = 0;          // waited in the queue past its age
    unsigned long overQueueBound = 0;  // the queue was full
    unsigned long outOfChannel = 0;    // the bot was kept out of the channel
    unsigned long sideDown = 0;        // the side was down or logging in
};

// Whose words a line of the bot carries: the tag that begins it names them.
// A side that can let people speak under their own names (IRC servers
// with relayed nicks) says the rest of the line as theirs.
struct Attribution {
    std::string_view speaker;  // empty: the bot's own words
    std::size_t tagBytes = 0;  // the bytes of the text the tag takes
};

// How a client names itself and its peer in the lines it logs.
struct ClientNames {
    const char* client = "";     // begins the client's own lines: "IRCClient"
    const char* resolver = "";   // names the client in the resolver's failure line
    const char* side = "";       // "IRC", "DC++": the connecting and loss lines
    const char* peer = "";       // "server", "hub"
    const char* verifyKey = "";  // the switch that turns certificate checks off
};

class ChatClient {
public:
    using Clock = std::chrono::steady_clock;
    // What one serve takes from the peer before the loop serves the other
    // side, so that a side that floods cannot starve the other.
    static constexpr std::size_t kMaxMessagesPerServe = 256;
    static constexpr std::size_t kMaxBytesPerServe = 256 * 1024;
    // How long a peer may keep us waiting: a whole log-in, connect and TLS
    // handshake included, must end within it; the liveness checks of a
    // session are counted in it too. Tests shorten it.
    static constexpr std::chrono::milliseconds kDefaultPatience{60 * 1000};
    static void setPatience(std::chrono::milliseconds patience);
    static std::chrono::milliseconds patience();

    virtual ~ChatClient();
    ChatClient(const ChatClient&) = delete;
    ChatClient& operator=(const ChatClient&) = delete;

    // The loop reads the clock once a pass: what happens during it (chat
    // handed over, messages read) takes that time. Outside a pass, the
    // clock is read when asked.
    void beginPass(Clock::time_point now) { passTime = now; }
    void endPass() { passTime.reset(); }
    // The timed work: a log-in is started when one is due and given up when
    // it overran its bound; then the protocol's own timers.
    void tick(Clock::time_point now = Clock::now());
    // Time until tick has work; nothing while only the peer can wake us.
    std::optional<Clock::duration> nextWakeIn(Clock::time_point now = Clock::now()) const;
    // The socket in the sets the loop waits on, as the link's phase needs
    // it; -1 without a socket.
    int addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const;
    // After the wait: a link being opened goes on (connect, TLS handshake),
    // and the log-in starts once it is open.
    void onReady(const fd_set& readable, const fd_set& writable);
    // Handles at most a share of what the peer sent, handing each chat
    // message to deliver. True when it stopped at the share with more
    // possibly waiting.
    template <typename Deliver>
    bool serve(Deliver deliver);
    // Input the loop must serve without waiting: decrypted input TLS holds,
    // or a link the peer closed that nobody has noticed yet.
    bool inputWaiting() const;

    // What waits in a side's pacing, in the order it goes: chat first,
    // then answers to people and notices of comings and goings, so that
    // neither can hold relayed chat back.
    enum LineKind : int { kChatLine = 0, kAnswerLine = 1, kNoticeLine = 2 };
    // Says text in the channel or main chat as the bot, or in the name of
    // who it attributes it to where the side can. Dropped, and counted in
    // one warning, while the side cannot take it.
    void sendChat(std::string_view text, bool action = false, const Attribution& who = Attribution()) {
        say(text, action, kChatLine, who);
    }
    // The same for a notice of the bot's own ("* alice joined the hub"),
    // which goes after the chat waiting.
    void sendNotice(std::string_view text) { say(text, false, kNoticeLine, Attribution()); }
    // Answers one user privately, in a few short lines; dropped while the
    // side is not in its channel.
    virtual void sendPrivate(std::string_view nick, const std::vector<std::string>& lines) = 0;
    // Who else is in the channel or main chat now.
    virtual const MemberList& members() const = 0;
    // The name the peer gives itself (a hub's name); empty when it gave none.
    virtual std::string peerName() const { return std::string(); }
    // How many bytes of text one chat message of the bot can carry here.
    virtual std::size_t chatRoom(bool action) const = 0;
    // Whether two nicks name the same user here.
    virtual bool sameNick(std::string_view a, std::string_view b) const = 0;

    // Queues the protocol's goodbye, with reason where it has one; false
    // when there is nothing to say it to. The loop then writes it out.
    bool sayGoodbye(const std::string& reason);
    // Closes the link at once; the side is down.
    void close();

    LinkState state() const { return side.state(); }
    const SideState& sideState() const { return side; }
    // Chat this side did not deliver since the start, by why.
    DropCounts dropCounts() const;
    // "in #chat", "logging in", "down": the side's state in words.
    std::string describeState() const;
    // Up: logged in and in the channel or main chat, relaying chat.
    bool isConnected() const { return side.is(LinkState::InChannel); }
    bool everUp() const { return side.everUp(); }
    // The last attempt was refused for a reason that passes (the peer named
    // a wait, or is full): trying again later may succeed.
    bool refusedForNow() const { return refusalPasses; }
    unsigned long attemptsStarted() const { return side.attemptsStarted(); }
    const ClientNames& names() const { return clientNames; }
    // The delays between attempts: the first, doubling up to the longest.
    void setReconnectDelays(std::chrono::seconds first, std::chrono::seconds longest);

    // The link is open (messages can flow), whatever the log-in's state.
    bool linkOpen() const { return link.isConnected(); }
    bool hasPendingInput() const { return link.hasPendingInput(); }
    bool hasQueuedOutput() const { return link.hasQueuedOutput(); }
    std::size_t queuedOutputBytes() const { return link.queuedOutputBytes(); }
    void flushOutput() { link.flushOutput(); }
    // Output is queued until released, then written at once.
    void holdOutput() { link.holdOutput(); }
    void releaseOutput() { link.releaseOutput(); }

protected:
    ChatClient(Connection& connection, const ClientNames& names);

    // What each protocol supplies. A new attempt begins (before the link
    // is opened): per-attempt state starts over.
    virtual void onAttemptStart() {}
    // The link is open: the protocol's first words of the log-in.
    virtual void onLinkOpen() = 0;
    // One message from the peer; true when it is chat for the other side,
    // which is then described in chat.
    virtual bool onMessage(const std::string& message, ChatMessage& chat) = 0;
    // The protocol's own timed work, and when it is next due.
    virtual void onTick(Clock::time_point) {}
    virtual std::optional<Clock::duration> protocolWakeIn(Clock::time_point) const { return std::nullopt; }
    // Chat to say as the bot; false when the side cannot take it now.
    virtual bool takeChat(std::string_view text, bool action, LineKind kind, const Attribution& who) = 0;
    // The protocol's goodbye with reason; nothing when there is none to
    // say. A protocol without a quit says an empty message: what is queued
    // before it goes out, then the link closes.
    virtual std::optional<std::string> goodbye(const std::string& reason) const = 0;
    // The link is gone: per-link state is dropped.
    virtual void onLinkLost() {}
    // " as \"nick\" (n nick retries)": how far a log-in came, for the line
    // that gives it up.
    virtual std::string logInProgress() const = 0;
    // Where the bot's chat goes: "#chat", "the hub's main chat".
    virtual std::string chatPlace() const = 0;
    // What the peer said last that tells most; by default its last message.
    virtual std::string lastWords() const { return lastHeard; }

    // What the protocols call.
    // The present pass's time, or now outside a pass.
    Clock::time_point currentTime() const { return passTime ? *passTime : Clock::now(); }
    void setServer(const std::string& host, std::int32_t port, const TlsSettings& tls);
    // Moves the side on; entering the channel, or going down, reports the
    // chat that was dropped meanwhile.
    void enter(LinkState next, Clock::time_point now = Clock::now());
    // The attempt ends without a session, for the reason given (logged as
    // the log-in given up, unless empty: already said).
    void giveUp(const std::string& why);
    // The same for a refusal that passes: the next attempt comes after
    // wait (at the least the schedule's delay), and a first log-in refused
    // so is tried again rather than ending the run.
    void giveUpForNow(const std::string& why, std::optional<std::chrono::seconds> wait);
    // The peer closed the link before the log-in was done; by default the
    // attempt is given up with what the peer said last.
    virtual void onClosedDuringLogIn();
    // The log-in goes on over a new link, within the same attempt and its
    // time bound: for a peer that closes the link on a refused nick.
    void openLinkAgain();
    // The session's link is dropped; why is logged as a warning first.
    void dropLink(const std::string& why);
    // "; it said last: \"...\"", or nothing when the peer said nothing.
    std::string saidLast() const;
    // Chat lines the protocol had to throw away itself, reported in the
    // next warning.
    void countDropped(std::size_t lines) { dropped += lines; }
    // What the protocol's queue dropped since the start.
    virtual LinePacer::Drops queueDrops() const = 0;

    Connection& link;  // the derived client's connection
    SideState side;    // down, logging in, joining, in or out of the channel
    DropCounts drops;  // chat not delivered, by why (the queue's own drops apart)

private:
    void say(std::string_view text, bool action, LineKind kind, const Attribution& who);
    void startAttempt(Clock::time_point now);
    void openLink();
    void afterOpening(Connection::Opening opening);
    void openingFailed();
    void logInTimedOut();
    void peerClosedTheLink();
    void endLink(bool sessionLost);
    void reportDropped();

    ClientNames clientNames;
    std::string host;           // the server's name or address
    std::int32_t port = 0;
    std::string message;        // the message being handled
    std::string lastHeard;      // the peer's last message on this link, cut for quoting
    std::size_t dropped = 0;    // chat lines dropped since the last report
    bool refusalPasses = false; // the last attempt was refused for now
    std::optional<Clock::time_point> passTime;  // while the loop's pass runs
    LogLimiter droppedLines;    // those reports, which a peer that kicks or refuses us could make many
};

template <typename Deliver>
bool ChatClient::serve(Deliver deliver) {
    if (side.is(LinkState::Down))
        return false;
    std::size_t bytes = 0;
    for (std::size_t count = 0; count < kMaxMessagesPerServe && bytes < kMaxBytesPerServe; ++count) {
        if (!link.readMessage(message)) {
            // Only once every message that arrived before the end has been
            // handled does the side count as down.
            if (link.phase() == Connection::Phase::Closed)
                peerClosedTheLink();
            return false;
        }
        bytes += message.size();
        lastHeard.assign(message, 0, kMaxQuotedPeerText + 1);
        ChatMessage chat;
        if (onMessage(message, chat))
            deliver(chat);
        if (side.is(LinkState::Down))
            return false;
    }
    return true;
}
