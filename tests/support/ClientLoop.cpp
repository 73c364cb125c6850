#include "ClientLoop.h"

#include <stdexcept>
#include <sys/select.h>

void ClientLoop::pass(std::chrono::milliseconds wait) {
    client.serve([this](const ChatMessage& message) {
        static const char* const kinds[] = {"", "private", "joined", "left", "kicked", "quit"};
        if (message.kind != ChatKind::Public)
            others.push_back(std::string(kinds[static_cast<int>(message.kind)]) + " " + std::string(message.speaker) +
                             (message.text.empty() ? "" : ": " + std::string(message.text)));
        else
            chat.push_back(message.action ? "* " + std::string(message.speaker) + " " + std::string(message.text)
                                          : std::string(message.speaker) + ": " + std::string(message.text));
    });
    client.tick();
    fd_set readable;
    fd_set writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    const int fd = client.addToFdSets(&readable, &writable, true);
    timeval timeout{static_cast<time_t>(wait.count() / 1000), static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
    if (fd < 0 || select(fd + 1, &readable, &writable, nullptr, &timeout) < 0) {
        FD_ZERO(&readable);
        FD_ZERO(&writable);
    }
    client.onReady(readable, writable);
    client.flushOutput();
}

void ClientLoop::runWhile(std::future<void>& script, std::chrono::milliseconds deadline) {
    const bool ended = runUntil([&] {
        return script.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }, deadline);
    if (!ended)
        throw std::runtime_error("the peer's script did not end in time");
    script.get();
}

// One condition checked after each pass: a pass that opens the link ends
// before its peer's first answer is read, which may end the attempt.
bool ClientLoop::open() {
    const unsigned long before = client.attemptsStarted();
    runUntil([&] {
        return client.attemptsStarted() > before && (client.linkOpen() || client.state() == LinkState::Down);
    }, std::chrono::seconds(15));
    return client.linkOpen();
}
