// The test's end of one TCP link: reads with deadlines, writes, closes.
#pragma once

#include <chrono>
#include <string>

class PeerSocket {
public:
    explicit PeerSocket(int fd);
    ~PeerSocket();
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;
    PeerSocket(PeerSocket&& other) noexcept;

    // Connects to 127.0.0.1:port; throws when refused.
    static PeerSocket connectTo(int port);

    void send(const std::string& bytes);
    // Reads until text holds terminator; returns the bytes before it (the
    // terminator consumed). Throws, naming what it waited for, after deadline.
    std::string readUntil(const std::string& terminator,
                          std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Reads whatever arrives within the window.
    std::string readFor(std::chrono::milliseconds window);
    // True when the peer closed the link within the deadline (data dropped).
    bool waitForClose(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Bytes received but not yet taken by readUntil.
    const std::string& pending() const { return buffered; }

    void setReceiveBuffer(int bytes);
    void close();
    // Closes with SO_LINGER 0, which sends a reset.
    void reset();
    int descriptor() const { return fd; }

private:
    bool fill(std::chrono::milliseconds wait);

    int fd;
    std::string buffered;
};
