#include "frame/stopSignals.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

volatile std::sig_atomic_t requestedBy = 0;  // the signal that asked, 0 for none
bool acknowledged = false;
sigset_t maskDuringWaits;                    // the mask with the stop signals let through
bool maskKnown = false;

volatile std::sig_atomic_t statusRequested = 0;

void recordStop(int signalNumber) { requestedBy = signalNumber; }
void recordStatusRequest(int) { statusRequested = 1; }

// Before catchStopSignals (tests that run parts of the daemon) waits use the
// mask as it is.
const sigset_t& waitMask() {
    if (!maskKnown) {
        sigprocmask(SIG_SETMASK, nullptr, &maskDuringWaits);
        maskKnown = true;
    }
    return maskDuringWaits;
}

}  // namespace

void catchStopSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = recordStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = recordStatusRequest;
    sigaction(SIGUSR1, &action, nullptr);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGUSR1);
    sigprocmask(SIG_BLOCK, &stopSignals, &maskDuringWaits);
    sigdelset(&maskDuringWaits, SIGTERM);
    sigdelset(&maskDuringWaits, SIGINT);
    sigdelset(&maskDuringWaits, SIGUSR1);
    maskKnown = true;
}

bool stopPending() { return requestedBy != 0 && !acknowledged; }

void acknowledgeStop() { acknowledged = true; }

bool takeStatusRequest() {
    if (statusRequested == 0)
        return false;
    statusRequested = 0;
    return true;
}

const char* stopSignalName() { return requestedBy == SIGINT ? "SIGINT" : "SIGTERM"; }

int selectUnlessStopping(int descriptors, fd_set* readable, fd_set* writable, timeval* timeout) {
    if (stopPending()) {
        errno = EINTR;
        return -1;
    }
    timespec wait;
    timespec* limit = nullptr;
    if (timeout) {
        wait.tv_sec = timeout->tv_sec;
        wait.tv_nsec = static_cast<long>(timeout->tv_usec) * 1000;
        limit = &wait;
    }
    return pselect(descriptors, readable, writable, nullptr, limit, &waitMask());
}
