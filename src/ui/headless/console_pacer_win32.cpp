// Console mode on Windows: typed lines come from a console, a pipe or a file
// without ever blocking the timers; text goes to a console as UTF-16, so
// that accents show whatever the console's code page.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
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

// Ctrl-C, Ctrl-Break, the console's close, logoff and shutdown set `stop_asked`
// and wake the waits through `stop_event`. Windows ends the process as soon
// as the handler returns from a close, logoff or shutdown: the handler then
// holds until the program has ended (`ended`, set when the pacer goes, after
// the start form has closed), within the few seconds Windows grants.
std::atomic<bool> stop_asked{false};
HANDLE stop_event = nullptr;
HANDLE ended = nullptr;
constexpr DWORD kGraceMs = 4500;

BOOL WINAPI on_console_control(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stop_asked = true;
      SetEvent(stop_event);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stop_asked = true;
      SetEvent(stop_event);
      WaitForSingleObject(ended, kGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

void install_control_handler() {
  if (stop_event != nullptr) return;
  stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(on_console_control, TRUE);
}

bool is_console(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

class Win32ConsolePacer final : public ConsolePacer {
 public:
  explicit Win32ConsolePacer(HANDLE in) : in_(in) {
    install_control_handler();
    ResetEvent(ended);
    if (is_console(in_)) {
      kind_ = Kind::console;
    } else if (in_ != nullptr && in_ != INVALID_HANDLE_VALUE && GetFileType(in_) != FILE_TYPE_UNKNOWN) {
      // A pipe or a file cannot be waited on (nor, on every system, looked
      // into): a reader of its own blocks on it and hands over what comes.
      kind_ = Kind::stream;
      stream_ = std::make_shared<Stream>();
      std::thread(read_stream, in_, stream_).detach();
    }
  }

  ~Win32ConsolePacer() override { SetEvent(ended); }
  Win32ConsolePacer(const Win32ConsolePacer&) = delete;
  Win32ConsolePacer& operator=(const Win32ConsolePacer&) = delete;

  std::int64_t now_ms() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start_).count();
  }

  bool stop_requested() const override { return stop_seen_; }

  std::optional<std::string> wait(std::int64_t deadline_ms) override {
    if (take_stop()) return std::nullopt;
    if (kind_ == Kind::stream) return stream_line(deadline_ms < 0 ? kForever : deadline_ms);
    for (;;) {
      if (auto line = take_line(pending_)) return line;
      const std::int64_t left = deadline_ms < 0 ? -1 : deadline_ms - now_ms();
      if (deadline_ms >= 0 && left <= 0) return std::nullopt;
      const std::int64_t slice = left < 0 ? 60'000 : std::min<std::int64_t>(left, 60'000);
      if (wait_for(kind_ == Kind::none ? nullptr : in_, static_cast<DWORD>(slice)) == Woke::input) {
        take_console_keys();
      }
      if (take_stop()) return std::nullopt;
    }
  }

  bool interactive() const override { return kind_ == Kind::console; }

  std::optional<std::string> read_line() override {
    if (kind_ == Kind::stream) return stream_line(kUntilEnd);
    if (kind_ == Kind::none) return std::nullopt;
    for (;;) {
      if (auto line = take_line(pending_)) return line;
      if (stop_seen_ || take_stop()) return std::nullopt;
      if (wait_for(in_, INFINITE) == Woke::input) take_console_keys();
    }
  }

 private:
  enum class Kind { console, stream, none };
  enum class Woke { input, stop, timeout };

  // Waits for `input` (none when null) or a stop not yet seen, up to `ms`.
  // Once the stop is seen, waits keep their deadlines (a check still running
  // ends at its pace, without spinning).
  Woke wait_for(HANDLE input, DWORD ms) const {
    HANDLE handles[2];
    DWORD n = 0;
    if (!stop_seen_) handles[n++] = stop_event;
    if (input != nullptr) handles[n++] = input;
    if (n == 0) {
      Sleep(ms);
      return Woke::timeout;
    }
    const DWORD r = WaitForMultipleObjects(n, handles, FALSE, ms);
    if (r >= WAIT_OBJECT_0 + n) return Woke::timeout;
    return handles[r - WAIT_OBJECT_0] == input ? Woke::input : Woke::stop;
  }

  // Whether a stop was just asked: the first time it is seen, on_stop runs
  // (on the program's own thread, not the handler's) and the wait ends.
  bool take_stop() {
    if (!stop_asked || stop_seen_) return false;
    stop_seen_ = true;
    if (on_stop) on_stop();
    return true;
  }
  static constexpr std::int64_t kForever = -1;
  static constexpr std::int64_t kUntilEnd = -2;

  // What the reader of a pipe or file has read, shared with it (it may
  // outlive the pacer, blocked in a read).
  struct Stream {
    Stream() : arrived(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Stream() { CloseHandle(arrived); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    std::mutex mutex;
    HANDLE arrived;  // set while something new waits to be taken
    std::string pending;
    bool ended = false;
  };

  static void read_stream(HANDLE in, std::shared_ptr<Stream> stream) {
    char buf[256];
    for (;;) {
      DWORD n = 0;
      const bool ok = ReadFile(in, buf, sizeof buf, &n, nullptr) && n > 0;
      std::lock_guard lock(stream->mutex);
      if (!ok) {
        // The last line may lack its line end.
        if (!stream->pending.empty() && stream->pending.back() != '\n') stream->pending += '\n';
        stream->ended = true;
        SetEvent(stream->arrived);
        return;
      }
      stream->pending.append(buf, n);
      SetEvent(stream->arrived);
    }
  }

  // The next line of the stream, waiting until `deadline_ms`, kForever, or
  // kUntilEnd (nullopt once the stream has ended).
  std::optional<std::string> stream_line(std::int64_t deadline_ms) {
    for (;;) {
      {
        std::lock_guard lock(stream_->mutex);
        if (auto line = take_line(stream_->pending)) return line;
        if (stream_->ended && deadline_ms == kUntilEnd) return std::nullopt;
        if (take_stop() || (stop_seen_ && deadline_ms == kUntilEnd)) return std::nullopt;
        ResetEvent(stream_->arrived);
      }
      const std::int64_t left = deadline_ms < 0 ? 60'000 : std::min<std::int64_t>(deadline_ms - now_ms(), 60'000);
      if (deadline_ms >= 0 && left <= 0) return std::nullopt;
      wait_for(stream_->arrived, static_cast<DWORD>(left));
    }
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

  static std::optional<std::string> take_line(std::string& pending) {
    const auto nl = pending.find('\n');
    if (nl == std::string::npos) return std::nullopt;
    std::string line = pending.substr(0, nl);
    pending.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  HANDLE in_;
  Kind kind_ = Kind::none;
  std::shared_ptr<Stream> stream_;
  std::string pending_;  // typed lines not yet taken (console)
  std::wstring typed_;   // the console line being typed
  bool stop_seen_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

std::unique_ptr<ConsolePacer> make_console_pacer() {
  return std::make_unique<Win32ConsolePacer>(GetStdHandle(STD_INPUT_HANDLE));
}

std::unique_ptr<ConsolePacer> make_console_pacer(void* input) {
  return std::make_unique<Win32ConsolePacer>(static_cast<HANDLE>(input));
}

bool console_control_for_test(unsigned long type) {
  install_control_handler();
  return on_console_control(type) != 0;
}

void forget_console_stop_for_test() {
  install_control_handler();
  stop_asked = false;
  ResetEvent(stop_event);
}

void write_console_line(std::string_view utf8) { write_console_line(GetStdHandle(STD_OUTPUT_HANDLE), utf8); }

void write_error_line(std::string_view utf8) { write_console_line(GetStdHandle(STD_ERROR_HANDLE), utf8); }

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
