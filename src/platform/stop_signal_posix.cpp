#include "platform/stop_signal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace kav::platform {

namespace {

int stop_pipe[2] = {-1, -1};

extern "C" void on_stop_signal(int) {
  const int saved = errno;
  const char byte = 's';
  [[maybe_unused]] const ssize_t n = ::write(stop_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

int stop_signal_fd() {
  if (stop_pipe[0] >= 0) return stop_pipe[0];
  if (::pipe(stop_pipe) != 0) {
    stop_pipe[0] = stop_pipe[1] = -1;
    return -1;
  }
  for (const int fd : stop_pipe) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  return stop_pipe[0];
}

void drain_stop_signal() {
  if (stop_pipe[0] < 0) return;
  char drained[16];
  while (::read(stop_pipe[0], drained, sizeof drained) > 0) {
  }
}

}  // namespace kav::platform
