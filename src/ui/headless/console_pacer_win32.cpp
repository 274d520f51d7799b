#include <windows.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "ui/headless/console_pacer.h"

namespace kav::ui::headless {

namespace {

// Lines are read from the console input handle when it signals input.
class Win32ConsolePacer final : public ConsolePacer {
 public:
  std::int64_t now_ms() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start_).count();
  }
  std::optional<std::string> wait(std::int64_t deadline_ms) override {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
      const std::int64_t left = deadline_ms < 0 ? INFINITE : deadline_ms - now_ms();
      if (deadline_ms >= 0 && left <= 0) return std::nullopt;
      if (!interactive()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(deadline_ms < 0 ? 1000 : left));
        continue;
      }
      if (WaitForSingleObject(in, static_cast<DWORD>(left)) == WAIT_OBJECT_0) {
        INPUT_RECORD rec;
        DWORD n = 0;
        if (PeekConsoleInputA(in, &rec, 1, &n) && n == 1 && rec.EventType == KEY_EVENT &&
            rec.Event.KeyEvent.bKeyDown) {
          return read_line();
        }
        ReadConsoleInputA(in, &rec, 1, &n);
      }
    }
  }
  bool interactive() const override {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
  }
  std::optional<std::string> read_line() override {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

std::unique_ptr<ConsolePacer> make_console_pacer() { return std::make_unique<Win32ConsolePacer>(); }

}  // namespace kav::ui::headless
