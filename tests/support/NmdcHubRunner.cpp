#include "NmdcHubRunner.h"

#include <stdexcept>
#include <unistd.h>

#include "LoopbackListener.h"

namespace {

// Where the build put the hubs and their run scripts; set by CMake.
#ifndef BRIVOX_SHARED_HUBS
#define BRIVOX_SHARED_HUBS ""
#endif
#ifndef BRIVOX_HUBS_BUILD
#define BRIVOX_HUBS_BUILD ""
#endif

std::string binaryOf(NmdcHubKind kind) {
    const std::string built = BRIVOX_HUBS_BUILD;
    return kind == NmdcHubKind::PtokaX ? built + "/ptokax-0.5.2.2/PtokaX"
                                       : built + "/verlihub-1.6.0.0/build/src/verlihub";
}

std::string scriptOf(NmdcHubKind kind) {
    return std::string(BRIVOX_SHARED_HUBS) + (kind == NmdcHubKind::PtokaX ? "/run-ptokax" : "/run-verlihub");
}

}  // namespace

const char* NmdcHubRunner::name(NmdcHubKind kind) { return kind == NmdcHubKind::PtokaX ? "PtokaX" : "Verlihub"; }

std::string NmdcHubRunner::whyUnavailable(NmdcHubKind kind) {
    if (std::string(BRIVOX_SHARED_HUBS).empty())
        return "needs the hubs of ../shared/hubs (BRIVOX_SHARED_DIR is not set)";
    if (access(scriptOf(kind).c_str(), X_OK) != 0)
        return "needs " + scriptOf(kind);
    if (access(binaryOf(kind).c_str(), X_OK) != 0)
        return std::string("needs ") + name(kind) + " built in " + BRIVOX_HUBS_BUILD +
               " (the test build_nmdc_hubs builds it; see its log there)";
    if (kind == NmdcHubKind::Verlihub && access("/usr/sbin/mariadbd", X_OK) != 0)
        return "needs mariadb-server for Verlihub";
    return std::string();
}

NmdcHubRunner::NmdcHubRunner(NmdcHubKind hubKind, const std::string& extraSettings)
    : kind(hubKind), serverPort(freeLoopbackPort()) {
    process.useOwnProcessGroup();
    process.setEnvironment("HUB_PORT", std::to_string(serverPort));
    process.setEnvironment("HUB_DIR", dir.path());
    if (kind == NmdcHubKind::PtokaX) {
        process.setEnvironment("PTOKAX", binaryOf(kind));
        process.setEnvironment("PTOKAX_SETTINGS", extraSettings);
    } else {
        process.setEnvironment("VERLIHUB", binaryOf(kind));
        process.setEnvironment("VH_SETTINGS", extraSettings);
    }
    process.start("/bin/sh", {scriptOf(kind)}, dir.path());
    // Verlihub starts its database server first.
    if (!waitUntilListening(serverPort, std::chrono::seconds(60)))
        throw std::runtime_error(std::string(name(kind)) + " did not start: " + log());
}

NmdcHubRunner::~NmdcHubRunner() { stop(); }

void NmdcHubRunner::stop() { process.stop(); }
