// The operating system's request that the program end, as something a wait
// can watch beside its other inputs.
//
// POSIX: SIGINT and SIGTERM each write a byte on a pipe whose reading end the
// console's waits and the window's event loop watch. The handlers are reset
// after the first signal, so a second one ends the process at once (the
// system's default), for a program that does not end by itself.
#pragma once

namespace kav::platform {

// Installs the handlers (once for the process) and returns the descriptor to
// watch for reading; -1 where the system has no such descriptor or it could
// not be made.
int stop_signal_fd();

// Reads away what the signals wrote, so that the descriptor is quiet again.
void drain_stop_signal();

}  // namespace kav::platform
