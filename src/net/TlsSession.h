// The client side of TLS over a connected non-blocking socket: the
// handshake with certificate checks, then encrypted reads and writes. Every
// call returns at once; "wants read" and "wants write" tell the caller which
// readiness of the socket to wait for before calling again.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct TlsSettings {
    bool enabled = false;
    bool verify = true;              // check the chain and the host name
    std::string host;                // the name or address the certificate must carry
    std::string certificateFile;     // our certificate and key (PEM); empty: none
    // The SHA-256 of the peer's certificate (32 bytes) it must have; set, it
    // replaces the checks of chain and name (a self-signed one is fine).
    std::string keyPrint;
};

// The settings as the configuration spells them, the switches "yes" or "no"
// (checked when the configuration was loaded).
TlsSettings tlsSettingsFrom(const std::string& tls, const std::string& verify, const std::string& host,
                            const std::string& certificateFile = std::string());

class TlsSession {
public:
    enum class Result { Done, WantRead, WantWrite, Closed, Failed };

    // False when the program was built without a TLS library.
    static bool available();
    // Why a file of certificate and key cannot be used (it is no regular
    // file of a reasonable size, or holds no certificate with its key);
    // empty when it can.
    static std::string certificateFileProblem(const std::string& file);

    TlsSession();
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Prepares the session on socket fd; false, with the reason in why, when
    // the settings cannot be used.
    bool start(int fd, const TlsSettings& settings, std::string& why);
    Result handshake();
    // Done with the count moved; Closed when the peer ended the stream.
    Result read(char* buffer, std::size_t size, std::size_t& got);
    Result write(const char* bytes, std::size_t size, std::size_t& written);
    // Decrypted input the library holds that the socket no longer shows.
    bool hasPendingInput() const;
    // Sends our close_notify without waiting for the peer's.
    void shutdown();
    // The reason of the last Failed result, as the library gives it.
    const std::string& failure() const { return lastFailure; }
    // "TLSv1.3, TLS_AES_256_GCM_SHA384": for the log line after a handshake.
    std::string describe() const;

private:
    struct State;
    Result outcome(int returned);
    // A read or write that returned this: Done with the count, or why not.
    Result moved(int returned, std::size_t& count);
    std::unique_ptr<State> state;
    bool keyPrintMatches();
    std::string lastFailure;
    std::string expectedKeyPrint;
};
