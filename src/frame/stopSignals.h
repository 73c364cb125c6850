// SIGTERM and SIGINT ask the daemon to stop, SIGUSR1 for its status. The
// handlers only record the request; the relay loop acts on it. The signals
// are blocked everywhere except inside the loop's wait, so that none can
// arrive between a look at the request and the wait that would then sleep
// on.
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
// SIGUSR1 asked for the status line since the last call.
bool takeStatusRequest();

// select(2) that a stop request interrupts: -1 with EINTR at once when one is
// pending, or as soon as one arrives during the wait.
int selectUnlessStopping(int descriptors, fd_set* readable, fd_set* writable, timeval* timeout);
