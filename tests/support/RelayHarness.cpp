#include "RelayHarness.h"

#include "Eventually.h"

#include <stdexcept>
#include <thread>

RelayHarness::RelayHarness(bool serverPenalties) : RelayHarness(RelayPeers{NgircdOptions{serverPenalties, ""}}) {}

RelayHarness::RelayHarness(const RelayPeers& peers) : ircServer(peers.irc), hub(peers.hubOnIpv6) {
    alice = std::make_unique<IrcUser>(ircServer.port(), "alice");
    alice->join("#chat");
}

RelayHarness::~RelayHarness() { brivox.stop(); }

std::string RelayHarness::configText(const std::string& extraConfig) const {
    return "irc_port = " + std::to_string(ircServer.port()) + "\n" +
           "dc_port = " + std::to_string(hub.port()) + "\n" +
           // The scripted hub has no flood limits; tests that pace say so.
           "dc_message_interval = 0\n" + extraConfig;
}

void RelayHarness::start(const std::string& extraConfig, const std::vector<std::string>& extraArgs,
                         const HubLoginScript& login) {
    const std::string config = dir.write("brivox.conf", configText(extraConfig));
    std::vector<std::string> args{"-d", "-c", config};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    brivox.start(brivoxBinary(), args);
    hub.accept();
    logInToScriptedHub(hub, brivox, login);
    waitForBotJoin();
}

void logInToScriptedHub(ScriptedHub& hub, ProcessRunner& brivox, const HubLoginScript& script) {
    const auto logIns = [&] {
        const std::string log = brivox.stderrText();
        std::size_t count = 0;
        for (std::size_t at = 0; (at = log.find("Logged in to the hub as ", at)) != std::string::npos; ++at)
            ++count;
        return count;
    };
    const std::size_t before = logIns();
    hub.login(script);
    if (!eventually([&] { return logIns() > before; }, std::chrono::seconds(5)))
        throw std::runtime_error("brivox did not say it was in after the hub listed it");
}

void RelayHarness::waitForBotJoin(const std::string& nick) { alice->waitFor(":" + nick + "!", std::chrono::seconds(20)); }

void RelayHarness::waitUntilInChannel(IrcUser& user, const std::string& nick, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        user.sendLine("NAMES #chat");
        const std::string names = user.waitFor(" 353 ");
        user.waitFor(" 366 ");
        if ((names + " ").find(" " + nick + " ") != std::string::npos ||
            (names + " ").find(":" + nick + " ") != std::string::npos ||
            (names + " ").find("@" + nick + " ") != std::string::npos)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    throw std::runtime_error(nick + " did not join #chat");
}
