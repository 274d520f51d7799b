#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "ui/headless/console_pacer.h"

namespace kav::ui::headless {

namespace {

class PosixConsolePacer final : public ConsolePacer {
 public:
  std::int64_t now_ms() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start_).count();
  }

  std::optional<std::string> wait(std::int64_t deadline_ms) override {
    for (;;) {
      if (auto line = take_line()) return line;
      const std::int64_t left = deadline_ms < 0 ? -1 : deadline_ms - now_ms();
      if (deadline_ms >= 0 && left <= 0) return std::nullopt;
      if (input_closed_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(left < 0 ? 1000 : left));
        continue;
      }
      pollfd p{STDIN_FILENO, POLLIN, 0};
      const int rc = ::poll(&p, 1, left < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(left, 60'000)));
      if (rc > 0) fill();
    }
  }

  bool interactive() const override { return ::isatty(STDIN_FILENO) != 0; }

  std::optional<std::string> read_line() override {
    for (;;) {
      if (auto line = take_line()) return line;
      if (input_closed_) return std::nullopt;
      fill();
    }
  }

 private:
  void fill() {
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n > 0) {
      pending_.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      input_closed_ = true;
    }
  }
  std::optional<std::string> take_line() {
    const auto nl = pending_.find('\n');
    if (nl == std::string::npos) return std::nullopt;
    std::string line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    return line;
  }

  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::string pending_;
  bool input_closed_ = false;
};

}  // namespace

std::unique_ptr<ConsolePacer> make_console_pacer() { return std::make_unique<PosixConsolePacer>(); }

void write_console_line(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace kav::ui::headless
