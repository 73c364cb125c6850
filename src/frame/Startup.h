#pragma once

// The program's entry: command line, configuration, logging, background,
// pidfile, then the log-in phase and the relay loop. Returns the exit status.
int startBrivox(int argc, char* argv[]);
