// A clock set a day ahead and then right again, or hours forward, with the
// real program under libfaketime (the monotonic clock left true): tickets
// are named and dated by the clock's own day, never by a day the clock has
// left, and a ticket's age is the time that really passed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_net_printer.h"
#include "support/temp_root.h"
#include "webstub/webstub.h"

extern char** environ;

namespace kav {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kFaketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

// The date `days` from now, as strftime's `format` gives it.
std::string date(int days, const char* format) {
  const std::time_t t = std::time(nullptr) + days * 86400;
  std::tm tm{};
  localtime_r(&t, &tm);
  char out[32];
  std::strftime(out, sizeof out, format, &tm);
  return out;
}

struct ClockJump : ::testing::Test {
  ClockJump() {
    root.lay_out();
    fs::create_symlink("/usr/bin/wget", root.path() / "OrbelaTeknovarium/KAV/WGET");
    options.docroot = root.path() / "xampp/htdocs/Comandas";
    options.queue = root.path() / "queue";
    options.port = 0;
    stub = std::make_unique<webstub::WebStub>(options);
    port = stub->start();
  }
  ~ClockJump() override {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    stub->stop();
  }

  // KAVNENHUMA, the items' printer, as a network printer on `printer`.
  void print_on(const test::FakeNetPrinter& printer) const {
    std::ofstream(root.path() / "OrbelaTeknovarium/KAV/kavcomanda.ini")
        << "[impressora KAVNENHUMA]\nmodo = escpos-rede\nendereco = 127.0.0.1:" << printer.port() << "\n";
  }

  void set_clock(const std::string& offset) const { std::ofstream(root.path() / "faketime.rc") << offset << "\n"; }

  void start() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string v = *e;
      if (!v.starts_with("KAVCOMANDA_") && !v.starts_with("DISPLAY=") && !v.starts_with("FAKETIME") &&
          !v.starts_with("ASAN_OPTIONS=")) {
        env.push_back(v);
      }
    }
    // The sanitizers' runtime wants to come first; libfaketime is preloaded before it.
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") +
                  "verify_asan_link_order=0");
    for (const std::string& v :
         {"KAVCOMANDA_ROOT=" + root.str(), std::string("KAVCOMANDA_UI=console"),
          "KAVCOMANDA_WEB_HOST=127.0.0.1:" + std::to_string(port), std::string("CUPS_SERVER=127.0.0.1:9"), "LD_PRELOAD=" + kFaketime.string(),
          "FAKETIME_TIMESTAMP_FILE=" + (root.path() / "faketime.rc").string(), std::string("FAKETIME_NO_CACHE=1"),
          std::string("FAKETIME_DONT_FAKE_MONOTONIC=1")}) {
      env.push_back(v);
    }
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string program = std::string(KAV_BIN_DIR) + "/kavcomanda";
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, (root.path() / "monitor.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
  }

  // Order 0001 for KAVNENHUMA, made with the clock at `offset` and not
  // delivered: `printer` is out of paper. The monitor runs on.
  void order_waits(test::FakeNetPrinter& printer, const std::string& offset) {
    printer.set_state(test::FakeNetPrinter::State::paper_end);
    print_on(printer);
    set_clock(offset);
    start();
    ASSERT_GT(pid, 0);
    queue_order(1);
    ASSERT_TRUE(wait_for([&] { return logs().find("(parado)") != std::string::npos; }, 20s))
        << logs() << test::slurp(root.path() / "monitor.err");
  }
  static bool printed(const test::FakeNetPrinter& printer) {
    return printer.printed().find("0001") != std::string::npos;
  }

  void stop() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }

  // The days' logs, one after the other.
  std::string logs() const {
    std::string all;
    for (const auto& e : fs::directory_iterator(root.path() / "OrbelaTeknovarium")) {
      if (e.path().filename().string().starts_with("LOGCMD_")) all += test::slurp(e.path());
    }
    return all;
  }
  bool wait_for(const std::function<bool()>& done, std::chrono::seconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(100ms);
    return done();
  }

  void queue_order(int n) const {
    const fs::path folder = options.queue / "CMD_IMP";
    fs::create_directories(folder);
    const std::string number = (n < 10 ? "000" : "00") + std::to_string(n);
    std::ofstream(folder / ".next") << "<" << number << "><000001><Mesa 1><02><>\n<" << number
                                     << "><000100><Cafe><000001,000><0000003,50><><KAVNENHUMA>\n";
    fs::rename(folder / ".next", folder / (number + ".txt"));
  }

  // The tickets kept so far, by name.
  std::vector<std::string> tickets() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(root.path() / "OrbelaTeknovarium/Spool/KAVNENHUMA", ec)) {
      if (e.path().extension() == ".txt") names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  bool wait_for_tickets(std::size_t n) const {
    for (int i = 0; i < 300 && tickets().size() < n; ++i) std::this_thread::sleep_for(100ms);
    return tickets().size() >= n;
  }

  test::TempRoot root;
  webstub::Options options;
  std::unique_ptr<webstub::WebStub> stub;
  int port = 0;
  pid_t pid = -1;
};

TEST_F(ClockJump, AClockADayAheadThenSetRightNamesAndDatesNewTicketsToday) {
  if (!fs::exists(kFaketime)) GTEST_SKIP() << "libfaketime is not installed";
  ASSERT_GT(port, 0);
  set_clock("+1d");
  start();
  ASSERT_GT(pid, 0);
  queue_order(1);
  ASSERT_TRUE(wait_for_tickets(1)) << test::slurp(root.path() / "monitor.err");
  set_clock("+0");  // the clock set right
  queue_order(2);
  ASSERT_TRUE(wait_for_tickets(2)) << test::slurp(root.path() / "monitor.err");
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  pid = -1;

  const std::vector<std::string> names = tickets();
  ASSERT_EQ(names.size(), 2U);
  const std::string today = date(0, "%Y%m%d"), tomorrow = date(1, "%Y%m%d");
  EXPECT_EQ(names[0].substr(0, 8), today) << names[0];  // the order made with the clock right
  EXPECT_EQ(names[1].substr(0, 8), tomorrow) << names[1];
  const std::string text = test::slurp(root.path() / "OrbelaTeknovarium/Spool/KAVNENHUMA" / names[0]);
  EXPECT_NE(text.find(date(0, "%d/%m/%Y")), std::string::npos) << text;
  EXPECT_NE(text.find("0002"), std::string::npos) << text;
}

// Ages for the 30-minute rule and the late line: a ticket of this run ages
// by the time that passed since it was made, whatever the clock said then or
// says now; one of an earlier run dated ahead of the clock has no age to
// trust and counts as old. KAVNENHUMA prints on a network printer out of
// paper, and its ticket waits until the paper is back.

// Set a day ahead when the ticket was made, the clock is set right: the
// ticket is seconds old, not a day young, and goes as a new one.
TEST_F(ClockJump, ATicketMadeADayAheadGoesAsNewOnceTheClockIsSetRightInTheSameRun) {
  if (!fs::exists(kFaketime)) GTEST_SKIP() << "libfaketime is not installed";
  test::FakeNetPrinter printer;
  ASSERT_NO_FATAL_FAILURE(order_waits(printer, "+1d"));
  set_clock("+0");
  printer.set_state(test::FakeNetPrinter::State::ready);
  EXPECT_TRUE(wait_for([&] { return printed(printer); }, 20s)) << logs();
  stop();
  EXPECT_EQ(printer.printed().find("ATRASADO"), std::string::npos);
}

// The same ticket after a restart with the clock right: its name reads a
// day ahead, so it is held as too old to go by itself.
TEST_F(ClockJump, ATicketMadeADayAheadIsHeldAfterARestartWithTheClockRight) {
  if (!fs::exists(kFaketime)) GTEST_SKIP() << "libfaketime is not installed";
  test::FakeNetPrinter printer;
  ASSERT_NO_FATAL_FAILURE(order_waits(printer, "+1d"));
  stop();
  set_clock("+0");
  printer.set_state(test::FakeNetPrinter::State::ready);
  start();
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(wait_for([&] { return logs().find("mais de 30 min: KAVNENHUMA") != std::string::npos; }, 20s))
      << logs();
  stop();
  EXPECT_FALSE(printed(printer));
  ASSERT_EQ(tickets().size(), 1U);
  EXPECT_NE(tickets()[0].find("NAO-ENTREGUE"), std::string::npos);
}

// A ticket just made is not old because the clock was set hours forward
// after it: it goes when its printer is back, and not as late.
TEST_F(ClockJump, ANewTicketGoesWhenItsPrinterIsBackAfterTheClockWasSetForward) {
  if (!fs::exists(kFaketime)) GTEST_SKIP() << "libfaketime is not installed";
  test::FakeNetPrinter printer;
  ASSERT_NO_FATAL_FAILURE(order_waits(printer, "+0"));
  set_clock("+3h");
  printer.set_state(test::FakeNetPrinter::State::ready);
  EXPECT_TRUE(wait_for([&] { return printed(printer); }, 20s)) << logs();
  stop();
  EXPECT_EQ(printer.printed().find("ATRASADO"), std::string::npos);
}

}  // namespace
}  // namespace kav
