// Console mode on Windows: typed lines come from a console, a pipe or a file
// without ever blocking the timers; text goes to a console as UTF-16, so
// that accents show whatever the console's code page.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "ui/headless/console_pacer.h"

namespace kav::ui::headless {

namespace {

std::wstring to_utf16(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string to_utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

bool is_console(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// How often a pipe, which cannot be waited on, is looked at.
constexpr std::int64_t kPipePollMs = 50;

class Win32ConsolePacer final : public ConsolePacer {
 public:
  explicit Win32ConsolePacer(HANDLE in) : in_(in) {
    if (is_console(in_)) {
      kind_ = Kind::console;
    } else {
      switch (in_ == nullptr || in_ == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(in_)) {
        case FILE_TYPE_PIPE: kind_ = Kind::pipe; break;
        case FILE_TYPE_DISK: kind_ = Kind::file; break;
        default: kind_ = Kind::none; break;  // no input, or the NUL device
      }
    }
  }

  std::int64_t now_ms() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start_).count();
  }

  std::optional<std::string> wait(std::int64_t deadline_ms) override {
    for (;;) {
      if (auto line = take_line()) return line;
      const std::int64_t left = deadline_ms < 0 ? -1 : deadline_ms - now_ms();
      if (deadline_ms >= 0 && left <= 0) return std::nullopt;
      const std::int64_t slice = left < 0 ? 60'000 : std::min<std::int64_t>(left, 60'000);
      if (closed_ || kind_ == Kind::none) {
        std::this_thread::sleep_for(std::chrono::milliseconds(slice));
      } else if (kind_ == Kind::console) {
        if (WaitForSingleObject(in_, static_cast<DWORD>(slice)) == WAIT_OBJECT_0) take_console_keys();
      } else if (!fill(false)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(slice, kPipePollMs)));
      }
    }
  }

  bool interactive() const override { return kind_ == Kind::console; }

  std::optional<std::string> read_line() override {
    for (;;) {
      if (auto line = take_line()) return line;
      if (closed_ || kind_ == Kind::none) return std::nullopt;
      if (kind_ == Kind::console) {
        WaitForSingleObject(in_, INFINITE);
        take_console_keys();
      } else {
        fill(true);
      }
    }
  }

 private:
  enum class Kind { console, pipe, file, none };

  // Reads what a pipe or file holds; a pipe is read only when bytes wait in
  // it unless `block`. False when nothing came.
  bool fill(bool block) {
    if (kind_ == Kind::pipe && !block) {
      DWORD available = 0;
      // A failing look means the writer has gone: the read below then takes
      // what is left without waiting, and notes the end.
      if (PeekNamedPipe(in_, nullptr, 0, nullptr, &available, nullptr) && available == 0) return false;
    }
    char buf[256];
    DWORD n = 0;
    if (!ReadFile(in_, buf, sizeof buf, &n, nullptr) || n == 0) {
      closed_ = true;
      // The last line may lack its line end.
      if (!pending_.empty()) pending_ += '\n';
      return false;
    }
    pending_.append(buf, n);
    return true;
  }

  // Takes the console's waiting key presses without blocking, echoing them
  // and editing the line as a console does: Enter ends it, Backspace takes
  // back a character.
  void take_console_keys() {
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(in_, &count) || count == 0) return;
    INPUT_RECORD records[64];
    DWORD n = 0;
    if (!ReadConsoleInputW(in_, records, std::min<DWORD>(count, 64), &n)) return;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const bool echo = is_console(out);
    for (DWORD i = 0; i < n; ++i) {
      if (records[i].EventType != KEY_EVENT) continue;
      const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
      if (!key.bKeyDown) continue;
      const wchar_t c = key.uChar.UnicodeChar;
      for (WORD r = 0; r < std::max<WORD>(key.wRepeatCount, 1); ++r) {
        if (c == L'\r' || c == L'\n') {
          pending_ += to_utf8(typed_);
          pending_ += '\n';
          typed_.clear();
          if (echo) WriteConsoleW(out, L"\r\n", 2, nullptr, nullptr);
        } else if (c == L'\b') {
          if (!typed_.empty()) {
            typed_.pop_back();
            if (echo) WriteConsoleW(out, L"\b \b", 3, nullptr, nullptr);
          }
        } else if (c >= L' ') {
          typed_ += c;
          if (echo) WriteConsoleW(out, &c, 1, nullptr, nullptr);
        }
      }
    }
  }

  std::optional<std::string> take_line() {
    const auto nl = pending_.find('\n');
    if (nl == std::string::npos) return std::nullopt;
    std::string line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  HANDLE in_;
  Kind kind_ = Kind::none;
  bool closed_ = false;
  std::string pending_;  // whole lines and the unfinished rest (pipe, file)
  std::wstring typed_;   // the console line being typed
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

std::unique_ptr<ConsolePacer> make_console_pacer() {
  return std::make_unique<Win32ConsolePacer>(GetStdHandle(STD_INPUT_HANDLE));
}

std::unique_ptr<ConsolePacer> make_console_pacer(void* input) {
  return std::make_unique<Win32ConsolePacer>(static_cast<HANDLE>(input));
}

void write_console_line(std::string_view utf8) { write_console_line(GetStdHandle(STD_OUTPUT_HANDLE), utf8); }

void write_console_line(void* output, std::string_view utf8) {
  const HANDLE out = static_cast<HANDLE>(output);
  if (is_console(out)) {
    const std::wstring wide = to_utf16(utf8) + L"\r\n";
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // A pipe or a file takes the UTF-8 bytes with the Windows line end.
  std::fflush(stdout);
  std::string bytes(utf8);
  bytes += "\r\n";
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace kav::ui::headless
