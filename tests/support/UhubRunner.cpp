#include "UhubRunner.h"

#include <stdexcept>
#include <unistd.h>

#include "LoopbackListener.h"

namespace {
const char kUhub[] = "/usr/bin/uhub";
const char kAuthPlugin[] = "/usr/lib/uhub/mod_auth_simple.so";
}  // namespace

bool UhubRunner::available() { return access(kUhub, X_OK) == 0 && access(kAuthPlugin, R_OK) == 0; }

UhubRunner::UhubRunner(const UhubOptions& options) : serverPort(freeLoopbackPort()) {
    std::string accounts;
    for (const std::string& account : options.accounts)
        accounts += account + "\n";
    dir.write("users.txt", accounts);
    dir.write("acl.conf", "");
    dir.write("plugins.conf", "plugin " + std::string(kAuthPlugin) + " \"file=" + dir.file("users.txt") + "\"\n");
    std::string tls;
    if (options.tls != nullptr)
        tls = "tls_enable = yes\ntls_certificate = " + options.tls->serverCertificate() +
              "\ntls_private_key = " + options.tls->serverKey() + "\n";
    dir.write("uhub.conf", "server_port = " + std::to_string(serverPort) +
                               "\nserver_bind_addr = 127.0.0.1\nhub_name = brivox test hub\n"
                               "file_acl = " + dir.file("acl.conf") + "\nfile_plugins = " +
                               dir.file("plugins.conf") + "\n" +
                               (options.debianFloodLimits ? "flood_ctl_interval = 5\nflood_ctl_chat = 3\n"
                                                          : "") +
                               tls);
    start();
}

UhubRunner::~UhubRunner() { stop(); }

void UhubRunner::start() {
    process.start(kUhub, {"-c", dir.file("uhub.conf")});
    if (!waitUntilListening(serverPort))
        throw std::runtime_error("uhub did not start: " + process.stderrText());
}

void UhubRunner::stop() { process.stop(); }

std::string UhubRunner::log() const { return process.stderrText(); }
