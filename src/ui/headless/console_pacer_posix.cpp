#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "ui/headless/console_pacer.h"

#include "platform/stop_signal.h"

namespace kav::ui::headless {

namespace {

class PosixConsolePacer final : public ConsolePacer {
 public:
  PosixConsolePacer() : stop_fd_(platform::stop_signal_fd()) {}

  std::int64_t now_ms() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start_).count();
  }

  std::optional<std::string> wait(std::int64_t deadline_ms) override {
    for (;;) {
      if (stop_) return std::nullopt;
      if (auto line = take_line()) return line;
      const std::int64_t left = deadline_ms < 0 ? -1 : deadline_ms - now_ms();
      if (deadline_ms >= 0 && left <= 0) return std::nullopt;
      poll_inputs(left < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(left, 60'000)));
    }
  }

  bool interactive() const override { return ::isatty(STDIN_FILENO) != 0; }
  bool stop_requested() const override { return stop_; }

  std::optional<std::string> read_line() override {
    for (;;) {
      if (auto line = take_line()) return line;
      if (input_closed_ || stop_) return std::nullopt;
      poll_inputs(-1);
    }
  }

 private:
  // Waits up to `timeout_ms` (for ever when negative) for typed input or a
  // stop signal and takes what came.
  void poll_inputs(int timeout_ms) {
    pollfd p[2] = {{stop_fd_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const nfds_t count = input_closed_ ? 1 : 2;
    if (::poll(p, count, timeout_ms) <= 0) return;
    if ((p[0].revents & POLLIN) != 0) {
      platform::drain_stop_signal();
      if (!stop_) {
        stop_ = true;
        if (on_stop) on_stop();
      }
    }
    if (count == 2 && (p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) fill();
  }

  void fill() {
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n > 0) {
      pending_.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      input_closed_ = true;
      // A last line without its line end still counts.
      if (!pending_.empty()) pending_ += '\n';
      if (on_input_end) on_input_end();
    }
  }

  std::optional<std::string> take_line() {
    const auto nl = pending_.find('\n');
    if (nl == std::string::npos) {
      // A line longer than any command is not kept waiting for its end.
      if (pending_.size() > 4096) pending_.clear();
      return std::nullopt;
    }
    std::string line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    return line;
  }

  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::string pending_;
  bool input_closed_ = false;
  int stop_fd_;  // -1: no stop signals (poll passes over it)
  bool stop_ = false;
};

}  // namespace

std::unique_ptr<ConsolePacer> make_console_pacer() { return std::make_unique<PosixConsolePacer>(); }

void write_console_line(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void write_error_line(std::string_view utf8) {
  std::fflush(stdout);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace kav::ui::headless
