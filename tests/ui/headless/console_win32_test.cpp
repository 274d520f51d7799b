// Console mode on Windows: lines typed into a pipe or a file reach the
// runtime without holding up its timers, and text leaves as UTF-8 on a pipe.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "ui/headless/console_pacer.h"

namespace kav::ui::headless {
namespace {

using Clock = std::chrono::steady_clock;

class Pipe {
 public:
  Pipe() { EXPECT_TRUE(CreatePipe(&read, &write, nullptr, 0)); }
  ~Pipe() {
    close_write();
    if (read != nullptr) CloseHandle(read);
  }
  void put(std::string_view bytes) const {
    DWORD n = 0;
    WriteFile(write, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  }
  void close_write() {
    if (write != nullptr) CloseHandle(write);
    write = nullptr;
  }
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

TEST(Win32ConsoleInputTest, PipedLinesArriveWhileTheTimersKeepTheirDeadlines) {
  Pipe pipe;
  auto pacer = make_console_pacer(pipe.read);
  EXPECT_FALSE(pacer->interactive());
  // Nothing typed: the wait ends at its deadline, not at the next line.
  auto started = Clock::now();
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 150), std::nullopt);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));

  pipe.put("e\r\ns\n");
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 5000), "e");
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 5000), "s");

  // Half a line does not hold the timers up: the deadline still ends the wait.
  pipe.put("ex");
  started = Clock::now();
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 150), std::nullopt);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
  pipe.put("p\r\n");
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 5000), "exp");

  // The writer gone, the last unfinished line still counts, then waits just wait.
  pipe.put("s");
  pipe.close_write();
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 5000), "s");
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 100), std::nullopt);
  EXPECT_EQ(pacer->read_line(), std::nullopt);
}

TEST(Win32ConsoleInputTest, AFileIsReadLineByLineAndThenTheTimersRunOn) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string name = std::string(dir) + "kav-console-input-" + std::to_string(GetCurrentProcessId()) + ".txt";
  HANDLE f = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  WriteFile(f, "e\r\n\r\ns\r\n", 8, &n, nullptr);
  SetFilePointer(f, 0, nullptr, FILE_BEGIN);
  auto pacer = make_console_pacer(f);
  EXPECT_FALSE(pacer->interactive());
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 1000), "e");
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 1000), "");
  EXPECT_EQ(pacer->read_line(), "s");
  const auto started = Clock::now();
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 120), std::nullopt);
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(100));
  CloseHandle(f);
}

TEST(Win32ConsoleInputTest, NoInputAtAllOnlyWaits) {
  auto pacer = make_console_pacer(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(pacer->interactive());
  EXPECT_EQ(pacer->wait(pacer->now_ms() + 50), std::nullopt);
  EXPECT_EQ(pacer->read_line(), std::nullopt);
}

// Ctrl-C and Ctrl-Break wake a wait with no deadline; the program hears of
// the stop once, on its own thread, and its later waits keep their deadlines.
TEST(Win32ConsoleStopTest, CtrlCAndCtrlBreakEndTheWaitOnce) {
  for (const DWORD event : {DWORD{CTRL_C_EVENT}, DWORD{CTRL_BREAK_EVENT}}) {
    forget_console_stop_for_test();
    Pipe pipe;
    auto pacer = make_console_pacer(pipe.read);
    int stops = 0;
    std::thread::id stopped_on;
    pacer->on_stop = [&] {
      ++stops;
      stopped_on = std::this_thread::get_id();
    };
    EXPECT_FALSE(pacer->stop_requested());
    std::thread control([event] {
      Sleep(100);
      EXPECT_TRUE(console_control_for_test(event));
    });
    EXPECT_EQ(pacer->wait(-1), std::nullopt);
    control.join();
    EXPECT_TRUE(pacer->stop_requested());
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(stopped_on, std::this_thread::get_id());
    const auto started = Clock::now();
    EXPECT_EQ(pacer->wait(pacer->now_ms() + 120), std::nullopt);
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_EQ(stops, 1);
  }
  forget_console_stop_for_test();
}

// Windows ends the process when the handler returns from a console close,
// a logoff or a shutdown: it holds while the program still runs.
TEST(Win32ConsoleStopTest, ACloseHoldsUntilTheProgramHasEnded) {
  for (const DWORD event : {DWORD{CTRL_CLOSE_EVENT}, DWORD{CTRL_LOGOFF_EVENT}, DWORD{CTRL_SHUTDOWN_EVENT}}) {
    forget_console_stop_for_test();
    auto pacer = make_console_pacer(INVALID_HANDLE_VALUE);
    auto handled = std::async(std::launch::async, [event] { return console_control_for_test(event); });
    EXPECT_EQ(pacer->wait(-1), std::nullopt);
    EXPECT_TRUE(pacer->stop_requested());
    EXPECT_EQ(handled.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    pacer.reset();
    ASSERT_EQ(handled.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_TRUE(handled.get());
  }
  forget_console_stop_for_test();
}

TEST(Win32ConsoleOutputTest, APipeGetsUtf8WithTheWindowsLineEnd) {
  Pipe pipe;
  write_console_line(pipe.write, "Exporta\xC3\xA7\xC3\xA3o de Cadastros");
  pipe.close_write();
  char buf[64];
  DWORD n = 0;
  ReadFile(pipe.read, buf, sizeof buf, &n, nullptr);
  EXPECT_EQ(std::string(buf, n), "Exporta\xC3\xA7\xC3\xA3o de Cadastros\r\n");
}

// A console shows the accents whatever its code page: the text goes in as
// UTF-16 and is read back from the screen buffer.
TEST(Win32ConsoleOutputTest, AConsoleShowsAccentsWhateverItsCodePage) {
  HANDLE screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (screen == INVALID_HANDLE_VALUE && AllocConsole()) {
    screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       CONSOLE_TEXTMODE_BUFFER, nullptr);
  }
  if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console here";
  const UINT code_page = GetConsoleOutputCP();
  SetConsoleOutputCP(850);
  write_console_line(screen, "Exporta\xC3\xA7\xC3\xA3o");
  SetConsoleOutputCP(code_page);
  wchar_t shown[10] = {};
  DWORD n = 0;
  ASSERT_TRUE(ReadConsoleOutputCharacterW(screen, shown, 10, COORD{0, 0}, &n));
  EXPECT_EQ(std::wstring(shown, 10), L"Exporta\u00E7\u00E3o");
  CloseHandle(screen);
}

}  // namespace
}  // namespace kav::ui::headless
