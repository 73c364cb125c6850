// SIGTERM and SIGINT ask the daemon to stop. The handler only records the
// request; the relay loop and every blocking wait act on it. The two signals
// are blocked everywhere except inside the waits, so that none can arrive
// between a look at the request and the wait that would then sleep on.
#pragma once

#include <sys/select.h>

// Installs the handlers and blocks the two signals outside the waits.
void catchStopSignals();
// A stop was asked for and nobody has taken it up yet.
bool stopPending();
// The relay takes the stop up: from now on waits run to their end again,
// for the goodbye to both sides.
void acknowledgeStop();
// "SIGTERM" or "SIGINT", whichever asked.
const char* stopSignalName();

// select(2) that a stop request interrupts: -1 with EINTR at once when one is
// pending, or as soon as one arrives during the wait.
int selectUnlessStopping(int descriptors, fd_set* readable, fd_set* writable, timeval* timeout);
