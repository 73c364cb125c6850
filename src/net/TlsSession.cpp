#include "net/TlsSession.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "frame/yesNo.h"
#include "net/base32.h"
#include "platform.h"

namespace {

// A certificate and its key are a few kilobytes; the library would read a
// device or a FIFO for ever.
constexpr off_t kMaxCertificateFileBytes = 1024 * 1024;

std::string certificateLoadProblem(const std::string& file);

}  // namespace

TlsSettings tlsSettingsFrom(const std::string& tls, const std::string& verify, const std::string& host,
                            const std::string& certificateFile) {
    TlsSettings settings;
    settings.enabled = parseYesNo(tls).value_or(false);
    settings.verify = parseYesNo(verify).value_or(true);
    settings.host = host;
    settings.certificateFile = certificateFile;
    return settings;
}

std::string TlsSession::certificateFileProblem(const std::string& file) {
    struct stat status;
    if (stat(file.c_str(), &status) != 0)
        return std::string("cannot be read: ") + std::strerror(errno);
    if (!S_ISREG(status.st_mode))
        return "is not a regular file";
    if (status.st_size > kMaxCertificateFileBytes)
        return "is larger than " + std::to_string(kMaxCertificateFileBytes) + " bytes";
    const std::string problem = certificateLoadProblem(file);
    return problem.empty() ? problem : "cannot be used: " + problem;
}

#ifdef HAVE_OPENSSL

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

// The library's reasons for the last failure, oldest first, as one text.
std::string libraryReasons() {
    std::string reasons;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        if (!reasons.empty())
            reasons += "; ";
        reasons += text;
    }
    return reasons;
}

bool isAddressLiteral(const std::string& host) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, host.c_str(), bytes) == 1 || inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

bool useCertificateFile(SSL_CTX* context, const std::string& file) {
    return SSL_CTX_use_certificate_chain_file(context, file.c_str()) == 1 &&
           SSL_CTX_use_PrivateKey_file(context, file.c_str(), SSL_FILETYPE_PEM) == 1 &&
           SSL_CTX_check_private_key(context) == 1;
}

}  // namespace

struct TlsSession::State {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    ~State() {
        SSL_free(ssl);
        SSL_CTX_free(context);
    }
};

bool TlsSession::available() { return true; }

namespace {

std::string certificateLoadProblem(const std::string& file) {
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr)
        return libraryReasons();
    std::string problem;
    if (!useCertificateFile(context, file)) {
        problem = libraryReasons();
        if (problem.empty())
            problem = "no certificate and key in it";
    }
    SSL_CTX_free(context);
    return problem;
}

}  // namespace

TlsSession::TlsSession() = default;
TlsSession::~TlsSession() = default;

bool TlsSession::start(int fd, const TlsSettings& settings, std::string& why) {
    ERR_clear_error();
    state = std::make_unique<State>();
    state->context = SSL_CTX_new(TLS_client_method());
    if (state->context == nullptr) {
        why = libraryReasons();
        return false;
    }
    SSL_CTX_set_min_proto_version(state->context, TLS1_2_VERSION);
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
    // IRC servers and hubs commonly close the TCP link without a TLS
    // close_notify; that is the end of the stream, not an attack on it.
    SSL_CTX_set_options(state->context, SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif
    expectedKeyPrint = settings.keyPrint;
    if (settings.verify && expectedKeyPrint.empty()) {
        if (SSL_CTX_set_default_verify_paths(state->context) != 1) {
            why = "cannot load the system's trusted certificates: " + libraryReasons();
            return false;
        }
        SSL_CTX_set_verify(state->context, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(state->context, SSL_VERIFY_NONE, nullptr);
    }
    if (!settings.certificateFile.empty() && !useCertificateFile(state->context, settings.certificateFile)) {
        why = "cannot use the certificate file \"" + settings.certificateFile + "\": " + libraryReasons();
        return false;
    }
    state->ssl = SSL_new(state->context);
    if (state->ssl == nullptr || SSL_set_fd(state->ssl, fd) != 1) {
        why = libraryReasons();
        return false;
    }
    // The output buffer may move between a blocked write and its retry; it
    // keeps the same bytes in front and only grows.
    SSL_set_mode(state->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (isAddressLiteral(settings.host)) {
        if (settings.verify && expectedKeyPrint.empty())
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(state->ssl), settings.host.c_str());
    } else {
        // The name goes in the handshake too, for servers with several names.
        SSL_set_tlsext_host_name(state->ssl, settings.host.c_str());
        if (settings.verify && expectedKeyPrint.empty())
            SSL_set1_host(state->ssl, settings.host.c_str());
    }
    SSL_set_connect_state(state->ssl);
    return true;
}

TlsSession::Result TlsSession::outcome(int returned) {
    const int error = SSL_get_error(state->ssl, returned);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return Result::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return Result::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return Result::Closed;
    case SSL_ERROR_SYSCALL:
        lastFailure = libraryReasons();
        if (lastFailure.empty())
            lastFailure = errno != 0 ? std::strerror(errno) : "the peer closed the connection";
        return Result::Failed;
    default:
        break;
    }
    const long verification = SSL_get_verify_result(state->ssl);
    lastFailure = libraryReasons();
    if (verification != X509_V_OK)
        lastFailure += std::string(lastFailure.empty() ? "" : ": ") +
                       X509_verify_cert_error_string(verification);
    if (lastFailure.empty())
        lastFailure = "TLS error " + std::to_string(error);
    return Result::Failed;
}

// Each call starts with an empty error queue and errno, so that what the
// library reports after it belongs to this call.
namespace {
int clamped(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }
void clearErrors() {
    ERR_clear_error();
    errno = 0;
}
}  // namespace

TlsSession::Result TlsSession::moved(int returned, std::size_t& count) {
    if (returned <= 0)
        return outcome(returned);
    count = static_cast<std::size_t>(returned);
    return Result::Done;
}

TlsSession::Result TlsSession::handshake() {
    clearErrors();
    const int returned = SSL_connect(state->ssl);
    if (returned != 1)
        return outcome(returned);
    return expectedKeyPrint.empty() || keyPrintMatches() ? Result::Done : Result::Failed;
}

// The key print is the SHA-256 of the certificate in DER, as DC clients
// write it in a hub's address.
bool TlsSession::keyPrintMatches() {
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
    X509* certificate = SSL_get1_peer_certificate(state->ssl);
#else
    X509* certificate = SSL_get_peer_certificate(state->ssl);
#endif
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool digested = certificate != nullptr && X509_digest(certificate, EVP_sha256(), digest, &length) == 1;
    X509_free(certificate);
    if (!digested) {
        lastFailure = "the peer sent no certificate to match the key print against";
        return false;
    }
    const std::string print(reinterpret_cast<const char*>(digest), length);
    if (print == expectedKeyPrint)
        return true;
    lastFailure = "the certificate's key print is SHA256/" + base32Encode(print) + ", not SHA256/" +
                  base32Encode(expectedKeyPrint) + " as the address says";
    return false;
}

TlsSession::Result TlsSession::read(char* buffer, std::size_t size, std::size_t& got) {
    clearErrors();
    return moved(SSL_read(state->ssl, buffer, clamped(size)), got);
}

TlsSession::Result TlsSession::write(const char* bytes, std::size_t size, std::size_t& written) {
    clearErrors();
    return moved(SSL_write(state->ssl, bytes, clamped(size)), written);
}

bool TlsSession::hasPendingInput() const { return state && state->ssl && SSL_pending(state->ssl) > 0; }

void TlsSession::shutdown() {
    if (state && state->ssl) {
        ERR_clear_error();
        SSL_shutdown(state->ssl);
        ERR_clear_error();
    }
}

std::string TlsSession::describe() const {
    if (!state || !state->ssl)
        return std::string();
    return std::string(SSL_get_version(state->ssl)) + ", " + SSL_get_cipher_name(state->ssl);
}

#else  // built without a TLS library: every use is refused before a link opens

struct TlsSession::State {};

bool TlsSession::available() { return false; }
namespace {
std::string certificateLoadProblem(const std::string&) { return "brivox was built without TLS"; }
}  // namespace
TlsSession::TlsSession() = default;
TlsSession::~TlsSession() = default;
bool TlsSession::start(int, const TlsSettings&, std::string& why) {
    why = "brivox was built without TLS";
    return false;
}
TlsSession::Result TlsSession::outcome(int) { return Result::Failed; }
TlsSession::Result TlsSession::moved(int, std::size_t&) { return Result::Failed; }
TlsSession::Result TlsSession::handshake() { return Result::Failed; }
bool TlsSession::keyPrintMatches() { return false; }
TlsSession::Result TlsSession::read(char*, std::size_t, std::size_t&) { return Result::Failed; }
TlsSession::Result TlsSession::write(const char*, std::size_t, std::size_t&) { return Result::Failed; }
bool TlsSession::hasPendingInput() const { return false; }
void TlsSession::shutdown() {}
std::string TlsSession::describe() const { return std::string(); }

#endif
