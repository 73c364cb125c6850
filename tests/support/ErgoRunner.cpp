#include "ErgoRunner.h"

#include <stdexcept>
#include <unistd.h>

#include "LoopbackListener.h"

namespace {

// Where the build put Ergo, and its run script; set by CMake.
#ifndef BRIVOX_SHARED_IRCD
#define BRIVOX_SHARED_IRCD ""
#endif
#ifndef BRIVOX_HUBS_BUILD
#define BRIVOX_HUBS_BUILD ""
#endif

std::string binary() { return std::string(BRIVOX_HUBS_BUILD) + "/ergo-2.11.1/ergo"; }
std::string script() { return std::string(BRIVOX_SHARED_IRCD) + "/run-ergo"; }

}  // namespace

std::string ErgoRunner::whyUnavailable() {
    if (std::string(BRIVOX_SHARED_IRCD).empty())
        return "needs Ergo of ../shared/ircd (BRIVOX_SHARED_DIR is not set)";
    if (access(script().c_str(), X_OK) != 0)
        return "needs " + script();
    if (access(binary().c_str(), X_OK) != 0)
        return "needs Ergo built in " + std::string(BRIVOX_HUBS_BUILD) +
               " (the test build_ergo builds it with golang-go; see ergo-build.log there)";
    return std::string();
}

ErgoRunner::ErgoRunner() : serverPort(freeLoopbackPort()) {
    process.useOwnProcessGroup();
    process.setEnvironment("IRCD_PORT", std::to_string(serverPort));
    process.setEnvironment("IRCD_DIR", dir.path());
    process.setEnvironment("ERGO", binary());
    process.setEnvironment("ERGO_FAKELAG", "0");
    process.start("/bin/sh", {script()}, dir.path());
    if (!waitUntilListening(serverPort, std::chrono::seconds(30)))
        throw std::runtime_error("Ergo did not start: " + log());
}

ErgoRunner::~ErgoRunner() { process.stop(); }
