// A demonstration for newcomers: a private ngircd, the scripted hub and the
// real brivox between them, with one line relayed each way. Everything it
// starts is stopped again when it ends.
#include <cstdio>
#include <exception>

#include "IrcUser.h"
#include "NgircdRunner.h"
#include "ProcessRunner.h"
#include "RelayHarness.h"
#include "ScriptedHub.h"
#include "TempDir.h"

namespace {

void say(const std::string& text) { std::printf("demo: %s\n", text.c_str()); std::fflush(stdout); }

int runDemo() {
    NgircdRunner ircServer(false);
    say("ngircd is listening on 127.0.0.1:" + std::to_string(ircServer.port()));
    ScriptedHub hub;
    say("the scripted hub is listening on 127.0.0.1:" + std::to_string(hub.port()));
    IrcUser alice(ircServer.port(), "alice");
    alice.join("#chat");
    say("alice is in #chat on IRC");

    TempDir dir;
    const std::string config = dir.write("brivox.conf", "irc_port = " + std::to_string(ircServer.port()) +
                                                            "\ndc_port = " + std::to_string(hub.port()) + "\n");
    ProcessRunner brivox;
    brivox.start(brivoxBinary(), {"-d", "-c", config});
    say("started: brivox -d -c " + config);
    hub.accept();
    logInToScriptedHub(hub, brivox);
    say("brivox logged in to the hub as " + hub.currentNick());
    alice.waitFor(":brivox!", std::chrono::seconds(20));
    say("brivox joined #chat");

    alice.say("#chat", "Hello from IRC!");
    say("alice said in #chat: Hello from IRC!");
    say("the hub's main chat got:  " + hub.readChat(std::chrono::seconds(10)));

    hub.userSays("carol", "Hello from the hub!");
    say("carol said on the hub: Hello from the hub!");
    const std::string line = alice.waitFor("PRIVMSG #chat");
    say("#chat on IRC got:         " + line.substr(line.find("PRIVMSG")));

    std::printf("\nbrivox's log:\n%s\n", brivox.stderrText().c_str());
    say("done; stopping brivox, ngircd and the hub");
    return 0;
}

}  // namespace

int main() {
    if (!NgircdRunner::available()) {
        std::fprintf(stderr, "demo: ngircd is not installed (Debian: apt-get install ngircd)\n");
        return 1;
    }
    try {
        return runDemo();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "demo: %s\n", failure.what());
        return 1;
    }
}
