// The bot's client on an ADC hub: the log-in (protocol, identity, password)
// and then the main chat both ways. Users are known by the session ids the
// hub gives them; their nicks come from the hub's INF messages. The bot's
// own messages come back from the hub with its session id and are not
// chat for the other side; private messages and the hub's own are not
// relayed either.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "adc/ADCConnection.h"
#include "adc/ADCMessage.h"
#include "frame/LogLimiter.h"
#include "net/HubClient.h"

class ADCClient : public HubClient {
public:
    // Hubs take lines shorter than this (uhub's receive buffer is 4 KiB);
    // a longer message of the bot is sent in parts.
    static constexpr std::size_t kMaxLineBytes = 4095;
    // "BMSG XXXX ": what comes before the text of a main-chat message.
    static constexpr std::size_t kChatHeadBytes = 10;

    ADCClient();
    ~ADCClient() override;

    void setConfig(const DCConfig& config) override;
    // The PID the bot logs in with, 24 bytes: the same for the whole run,
    // so that a new log-in replaces a session the hub still holds.
    const std::string& privateId() const { return pid; }

private:
    enum class Step { Protocol, Identify, Verify };

    void onAttemptStart() override;
    void onLinkOpen() override;
    bool onMessage(const std::string& line, ChatMessage& chat) override;
    void writeChat(std::string_view text) override;
    // A message goes as one line the hub takes: escaped, under its limit
    // (a leading command character doubled).
    std::size_t chatWeight(std::string_view text) const override;
    std::size_t protocolChatRoom() const override { return kMaxLineBytes - kChatHeadBytes - 1; }
    void writePrivate(std::string_view nick, const std::string& text) override;
    std::optional<std::string> goodbye(const std::string& reason) const override;
    void onLinkLost() override;
    std::string chatPlace() const override { return "the hub's main chat"; }
    std::string lastWords() const override;

    void onSessionId(const ADCMessage& message);
    void onHubInfo(const ADCMessage& message);
    void onPasswordRequest(const ADCMessage& message);
    void onStatus(const ADCMessage& message);
    bool onUserInfo(const ADCMessage& message, ChatMessage& chat);
    bool onQuit(const ADCMessage& message, ChatMessage& chat);
    bool readPrivate(const ADCMessage& message, ChatMessage& chat);
    void keepAway(const ADCMessage& message);
    void refuseLogIn(const std::string& why);
    bool readChat(const ADCMessage& message, ChatMessage& chat);
    void onNickTaken();
    std::string identity() const;
    void sendChatLine(std::string_view text);

    ADCConnection connection;    // the hub link
    std::string pid;             // our private id
    Step step = Step::Protocol;  // where a log-in stands
    std::string sid;             // our session id on this link
    bool fourByteCharacters = true;        // the hub relays characters beyond U+FFFF
    std::map<std::string, std::string, std::less<>> nicks;  // every user's nick by session id
    std::size_t nickBytes = 0;                              // what those nicks take
    std::string lastStatus;      // the hub's last status text during the log-in
    std::string refusal;         // why the hub refused this log-in, while its goodbye is awaited
    // The refusal names a wait (TL) or a full hub: it passes, and a first
    // log-in refused so is tried again rather than ending the run.
    bool refusalPasses = false;
    std::optional<std::chrono::seconds> refusalWait;
    ADCMessage parsed;           // the message being handled, reused
    std::string speaker;         // a received speaker and text, unescaped
    std::string text;
    LogLimiter hubStatus{"ADCClient: status messages of the hub"};
    LogLimiter badMessages{"ADCClient: messages of the hub that were not understood"};
};
