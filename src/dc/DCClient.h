// The bot's client on an NMDC hub: the log-in (key, nick validation,
// password, user information) until the hub lists the bot, then the main
// chat both ways: "<nick> text" lines in the hub's character set, read as
// chat in UTF-8 and written from it, the bot's own lines recognised when the
// hub echoes them. Only people the hub lists speak in the main chat: lines
// from nicks it does not list, or lists as its own bots, are the hub
// talking to the bot (its greeting, its refusals) and stay on the hub.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "dc/DCConnection.h"
#include "dc/HubCharset.h"
#include "frame/Config.h"
#include "frame/LogLimiter.h"
#include "net/HubClient.h"

class DCClient : public HubClient {
public:
    // Real hubs' locks are under 200 bytes.
    static constexpr std::size_t kMaxLockBytes = 512;

    DCClient();
    ~DCClient() override;

    void setConfig(const DCConfig& config) override;


private:
    // How far the log-in came on the present link.
    enum class LogInStep {
        AwaitingLock,  // the link is open; the hub speaks first
        NickAsked,     // our key and nick went out
        PasswordSent,  // the hub asked for a password and got it
        Introduced,    // greeted: our $MyINFO went out, the hub has yet to list us
    };
    struct LoginCommand {
        bool (*matches)(const std::string& command);
        void (DCClient::*handle)(const std::string& command);
    };
    static const LoginCommand loginCommands[];

    void onAttemptStart() override;
    void onLinkOpen() override;
    void onClosedDuringLogIn() override;
    bool onMessage(const std::string& command, ChatMessage& chat) override;
    void writeChat(std::string_view text) override;
    std::size_t chatWeight(std::string_view text) const override;
    void writePrivate(std::string_view nick, const std::string& text) override;
    std::optional<std::string> goodbye(const std::string& reason) const override;
    std::string chatPlace() const override { return "the hub's main chat"; }
    std::string lastWords() const override;

    void followLogIn(const std::string& command);
    void onLock(const std::string& command);
    void onNickRefused(const std::string& command);
    void onPasswordRequest(const std::string& command);
    void onPasswordRefused(const std::string& command);
    void onHello(const std::string& command);
    void onListed(const std::string& command);
    bool readChat(const std::string& command, ChatMessage& chat);
    bool readBroadcastAction(const std::string& command, ChatMessage& chat);
    bool isPerson(std::string_view nickUtf8) const { return hubMembers.contains(nickUtf8); }
    void noteHubWords(const std::string& command);
    bool readPresence(const std::string& command, ChatMessage& chat);
    bool readPrivate(const std::string& command, ChatMessage& chat);
    void noteHubName(const std::string& command);
    std::string_view inUtf8(std::string_view text, std::string& converted) const;
    std::string myInfo() const;

    DCConnection connection;     // the hub link
    HubCharset charset;          // the hub's character set
    std::string lastChat;        // the hub's last chat line during the log-in
    std::string speakerUtf8;     // a received speaker and text converted to UTF-8
    std::string textUtf8;
    std::string outgoing;        // the chat line being built, reused
    bool otherHelloLogged = false;       // a $Hello for another nick has been logged in this attempt
    LogInStep step = LogInStep::AwaitingLock;
    // The hub's answer to our $GetNickList is under way (until its
    // $OpList): the users it names were there before us, not comings.
    bool awaitingUserList = false;
    LogLimiter hubWords{"DCClient: the hub's words to the bot"};
    LogLimiter hubNotices{"DCClient: notices of the hub"};  // $HubIsFull, $ForceMove
};

// "$ValidateDenide" alone, or with the refused nick after a space.
bool isNickRefusal(const std::string& command);
// A "$MyINFO $ALL" whose connection field holds no speed, at most the
// status byte: how hubs list their own bots (every DC client sends one).
bool listsABot(std::string_view myInfo);
