// A receipt printer on a loopback port (POSIX sockets), as a network printer
// behaves: it answers DLE EOT status queries at once, in the state the test
// gives it, and keeps every other byte as printed. One connection at a time;
// it counts connections, and can drop a connection after a number of bytes
// of a ticket.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "support/loopback_server.h"

namespace kav::test {

class FakeNetPrinter {
 public:
  enum class State { ready, paper_end, cover_open, silent, paper_end_after_ticket };

  FakeNetPrinter() { thread_ = std::thread([this] { loop(); }); }
  ~FakeNetPrinter() {
    listener_.stop();
    thread_.join();
  }

  int port() const { return listener_.port; }
  void set_state(State s) { state_ = s; }
  // The next ticket's connection is dropped after this many of its bytes (0: never).
  void drop_after(std::size_t bytes) { drop_after_ = bytes; }
  std::string printed() const {
    std::lock_guard lock(mutex_);
    return printed_;
  }
  int connections() const { return connections_; }
  int most_at_once() const { return most_at_once_; }

 private:
  unsigned char answer(unsigned char n, bool ticket_seen) const {
    State s = state_;
    if (s == State::paper_end_after_ticket) s = ticket_seen ? State::paper_end : State::ready;
    switch (s) {
      case State::paper_end: return n == 1 ? 0x1A : n == 2 ? 0x32 : 0x72;
      case State::cover_open: return n == 1 ? 0x1A : n == 2 ? 0x16 : 0x12;
      default: return 0x12;
    }
  }

  void serve(int fd) {
    std::string pending;
    std::size_t ticket_bytes = 0;
    std::size_t drop = 0;
    char buf[4096];
    for (;;) {
      pollfd p[2]{{fd, POLLIN, 0}, {listener_.stopping(), POLLIN, 0}};
      if (::poll(p, 2, 10000) <= 0 || p[1].revents != 0) return;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      pending.append(buf, static_cast<std::size_t>(n));
      while (!pending.empty()) {
        if (pending[0] == '\x10') {
          if (pending.size() < 3) break;
          if (pending[1] == '\x04') {
            if (state_ != State::silent) {
              const char a = static_cast<char>(answer(static_cast<unsigned char>(pending[2]), ticket_bytes > 0));
              (void)::send(fd, &a, 1, MSG_NOSIGNAL);
            }
            pending.erase(0, 3);
            continue;
          }
        }
        if (ticket_bytes == 0) drop = drop_after_.exchange(0);  // the drop is for a ticket
        if (drop != 0 && ticket_bytes >= drop) return;
        {
          std::lock_guard lock(mutex_);
          printed_ += pending[0];
        }
        ++ticket_bytes;
        pending.erase(0, 1);
      }
    }
  }

  void loop() {
    for (;;) {
      pollfd p[2]{{listener_.fd, POLLIN, 0}, {listener_.stopping(), POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) continue;
      if (p[1].revents != 0) return;
      const int fd = ::accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++connections_;
      // A second connection while one is open would be seen here: the
      // listener serves one at a time, so count the backlog instead.
      pollfd q{listener_.fd, POLLIN, 0};
      if (::poll(&q, 1, 0) > 0) most_at_once_ = 2;
      serve(fd);
      ::close(fd);
    }
  }

  LoopbackListener listener_;
  std::atomic<State> state_{State::ready};
  std::atomic<std::size_t> drop_after_{0};
  std::atomic<int> connections_{0};
  std::atomic<int> most_at_once_{1};
  mutable std::mutex mutex_;
  std::string printed_;
  std::thread thread_;
};

}  // namespace kav::test
