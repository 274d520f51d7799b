// The command interpreter's stand-in, running real programs in a temporary root.
#include <arpa/inet.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/command/runner_root.h"
#include "platform/command_runner.h"

namespace kav::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::blank_filled;
using test::slurp;

constexpr std::string_view kBatch = "C:\\OrbelaTeknovarium\\Temp\\T.BAT";
constexpr std::string_view kRunBatch = "CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\T.BAT";

class CommandRunnerTest : public ::testing::Test {
 protected:
  CommandRunnerTest() {
    for (const char* tool : {"printf", "echo", "touch", "pwd", "sh", "false"}) root.link(std::string("bin/") + tool, fs::path("/usr/bin") / tool);
    fs::rename(root.path() / "bin" / "echo", root.path() / "bin" / "ECHO.exe");
  }

  std::unique_ptr<CommandRunner> runner(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return make_command_runner(*root.files, {limit, "C:\\OrbelaTeknovarium\\Temp\\OUT.TXT"});
  }
  Status run_batch(std::initializer_list<std::string_view> lines, CommandRunner& r) {
    root.put_batch(kBatch, lines);
    return r.run(blank_filled(kRunBatch, 8192), 0);
  }
  std::string output() const { return slurp(root.temp() / "OUT.TXT"); }
  // Every file the tests' commands might have created by injection.
  bool anything_injected() const {
    for (const auto& e : fs::recursive_directory_iterator(root.path()))
      if (e.path().filename().string().rfind("INJ", 0) == 0) return true;
    return fs::exists("INJ1") || fs::exists("INJ2") || fs::exists("INJ3");
  }

  test::RunnerRoot root;
};

TEST_F(CommandRunnerTest, DelRemovesTheFileAndAcceptsAMissingOne) {
  root.put("C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET", "<0000>");
  auto r = runner();
  const std::string del = blank_filled("cmd.exe /c DEL C:\\orbelateknovarium\\TEMP\\get_kavcmd.ret /Q", 8192);
  EXPECT_EQ(r->run(del, 0).result_number(), 0);
  EXPECT_FALSE(fs::exists(root.temp() / "GET_KAVCMD.RET"));
  EXPECT_EQ(r->run(del, 0).result_number(), 0);
  // A folder is not a file to delete.
  EXPECT_FALSE(r->run("CMD.EXE /C DEL C:\\OrbelaTeknovarium\\Temp /Q", 0).ok());
  EXPECT_TRUE(fs::is_directory(root.temp()));
}

TEST_F(CommandRunnerTest, BatchLinesRunInTurnWithWordsAndPathsAsTheProgramExpects) {
  auto r = runner();
  const int rc = run_batch({"\\BIN\\PRINTF.EXE \"<%%s>\" \"two words\" --output-document=C:\\OrbelaTeknovarium\\Temp\\X.RET "
                            "--output-document=WGET.TXT \\xampp\\htdocs\\Comandas\\FILES\\KAVCMD.TXT "
                            "\"http://h/Comandas/GET_KAVCMD.php?COMANDO=CMD_IMP\" A\xE7\xE3o   ",
                            "", "      ", "\\bin\\echo done", "\\bin\\pwd"},
                           *r)
                     .result_number();
  EXPECT_EQ(rc, 0);
  const std::string p = root.str();
  EXPECT_EQ(output(), "<two words><--output-document=" + p + "/OrbelaTeknovarium/Temp/X.RET><--output-document=WGET.TXT><" +
                          p + "/xampp/htdocs/Comandas/FILES/KAVCMD.TXT><http://h/Comandas/GET_KAVCMD.php?COMANDO=CMD_IMP>"
                          "<Ação>done\n" + fs::canonical(root.temp()).string() + "\n");
  // The result is the last program's exit code; a program ended by a signal
  // is told apart from one that failed.
  EXPECT_EQ(run_batch({"\\bin\\false"}, *r).result_number(), 1);
  EXPECT_EQ(run_batch({"\\bin\\sh -c \"exit 8\""}, *r).result_number(), 8);
  EXPECT_EQ(run_batch({"\\bin\\sh -c \"kill -s KILL $$\""}, *r).code(), Status::kSignalled);
}

// Every program gets WGETRC naming the runner's settings file for GNU Wget,
// never the user's; without that file in place no batch file runs.
TEST_F(CommandRunnerTest, ProgramsGetTheSettingsFileForWget) {
  ::setenv("WGETRC", "/nonexistent/user.wgetrc", 1);
  auto r = runner();
  const int rc = run_batch({"\\bin\\sh -c \"echo $WGETRC\""}, *r).result_number();
  ::unsetenv("WGETRC");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(output(), root.files->host_path(kWgetSettingsPath) + "\n");
  EXPECT_EQ(slurp(root.temp() / "KAVWGET.RC"), wget_settings());

  fs::remove(root.temp() / "KAVWGET.RC");
  fs::create_directory(root.temp() / "KAVWGET.RC");  // cannot be written
  EXPECT_EQ(run_batch({"\\bin\\touch INJ1"}, *r).code(), Status::kRefused);
  EXPECT_FALSE(anything_injected());
  root.put("C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET", "<0000>");
  EXPECT_EQ(r->run("CMD.EXE /C DEL C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET /Q", 0).result_number(), 0);  // a DEL still runs
  EXPECT_FALSE(fs::exists(root.temp() / "GET_KAVCMD.RET"));
}

TEST_F(CommandRunnerTest, NothingInABatchLineReachesAShell) {
  auto r = runner();
  EXPECT_EQ(run_batch({"\\bin\\echo a; touch INJ1", "\\bin\\echo $(touch INJ2) `touch INJ3` \"$(touch INJ4)\""}, *r).result_number(), 0);
  EXPECT_EQ(output(), "a; touch INJ1\n$(touch INJ2) `touch INJ3` $(touch INJ4)\n");
  EXPECT_FALSE(anything_injected());
  // A line the interpreter would read as two commands refuses the whole batch
  // file: not even the lines before it run.
  for (const char* bad : {"\\bin\\echo a & \\bin\\touch INJ5", "\\bin\\echo a | \\bin\\touch INJ6", "\\bin\\echo %PATH%"}) {
    EXPECT_EQ(run_batch({"\\bin\\touch INJ0", bad}, *r).code(), Status::kRefused) << bad;
  }
  EXPECT_FALSE(anything_injected());
}

TEST_F(CommandRunnerTest, RefusesWhatItDoesNotUnderstand) {
  auto r = runner();
  EXPECT_EQ(r->run("CMD.EXE /C \\bin\\touch C:\\OrbelaTeknovarium\\Temp\\INJ1", 0).code(), Status::kRefused);
  EXPECT_EQ(r->run("\\bin\\touch C:\\OrbelaTeknovarium\\Temp\\INJ1", 0).code(), Status::kRefused);
  EXPECT_EQ(r->run("CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\MISSING.BAT", 0).code(), Status::kRefused);
  EXPECT_EQ(run_batch({"touch INJ1"}, *r).code(), Status::kRefused);  // program without a path
  EXPECT_EQ(run_batch({"\\bin\\nothing-here x", "\\bin\\touch INJ2"}, *r).result_number(), 0);  // a missing program; the next line runs
  EXPECT_TRUE(fs::exists(root.temp() / "INJ2"));
  fs::remove(root.temp() / "INJ2");
  EXPECT_FALSE(anything_injected());
}

// Whether a process has ended (gone, or a zombie waiting for its new parent).
bool ended(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (!stat || close == std::string::npos || text.substr(close + 2, 1) == "Z") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(CommandRunnerTest, OverrunEndsTheWholeProcessTree) {
  auto r = runner(std::chrono::milliseconds(400));
  const auto start = Clock::now();
  EXPECT_EQ(run_batch({"\\bin\\sh -c \"sleep 30 & echo $! > CHILD.PID; wait\"", "\\bin\\touch AFTER"}, *r).code(),
            Status::kOverran);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  const pid_t child = std::stoi(slurp(root.temp() / "CHILD.PID"));
  EXPECT_TRUE(ended(child));
  EXPECT_FALSE(fs::exists(root.temp() / "AFTER"));  // the batch file ends there
}

// The monitor killed while a batch file's programs run: a program that ends
// by itself finishes its work (GNU Wget writes the answer the web application
// has handed out), one that does not is ended, with what it started, at its
// time limit; the next start waits for both.
TEST_F(CommandRunnerTest, AProgramOfAKilledMonitorFinishesWithinItsLimitAndTheNextStartWaitsForIt) {
  for (const bool ends_by_itself : {true, false}) {
    SCOPED_TRACE(ends_by_itself ? "ends by itself" : "runs past its limit");
    fs::remove(root.temp() / "CHILD.PID");
    fs::remove(root.temp() / "PROGRAM.PID");
    fs::remove(root.temp() / "DONE");
    root.put_batch(kBatch, {ends_by_itself
                                ? "\\bin\\sh -c \"echo 0 > CHILD.PID; echo $$ > PROGRAM.PID; sleep 1; echo x > DONE\""
                                : "\\bin\\sh -c \"sleep 30 & echo $! > CHILD.PID; echo $$ > PROGRAM.PID; wait\""});
    const pid_t monitor = ::fork();
    ASSERT_GE(monitor, 0);
    if (monitor == 0) {
      runner(std::chrono::seconds(3))->run(blank_filled(kRunBatch, 8192), 0).ignore();
      ::_exit(0);
    }
    const auto pid_in = [this](const char* name) {
      std::string text;
      for (int i = 0; i < 2000 && text.find('\n') == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        text = slurp(root.temp() / name);
      }
      return text.find('\n') == std::string::npos ? pid_t{-1} : static_cast<pid_t>(std::stoi(text));
    };
    const pid_t child = pid_in("CHILD.PID");
    const pid_t program = pid_in("PROGRAM.PID");
    ::kill(monitor, SIGKILL);
    ::waitpid(monitor, nullptr, 0);
    ASSERT_GT(program, 0) << "the program never started";
    ASSERT_GE(child, 0);
    const auto killed = Clock::now();
    EXPECT_TRUE(wait_for_earlier_programs(*root.files, std::chrono::seconds(20)));
    const auto waited = Clock::now() - killed;
    const bool program_gone = ended(program);
    const bool child_gone = child == 0 || ended(child);
    if (!program_gone) ::kill(program, SIGKILL);
    if (!child_gone) ::kill(child, SIGKILL);
    EXPECT_TRUE(program_gone);
    EXPECT_TRUE(child_gone);
    // A program ended at its limit is named, so that what it wrote is not
    // taken as whole.
    const fs::path cut = root.temp() / "KAVPROGS.CUT";
    if (ends_by_itself) {
      EXPECT_EQ(slurp(root.temp() / "DONE"), "x\n");
      EXPECT_FALSE(fs::exists(cut));
    } else {
      EXPECT_GT(waited, std::chrono::milliseconds(1500));  // until the limit, not at the kill
      EXPECT_EQ(slurp(cut), std::string(kBatch) + "\n");
    }
  }
  // Nothing left running: no wait.
  const auto start = Clock::now();
  EXPECT_TRUE(wait_for_earlier_programs(*root.files, std::chrono::seconds(20)));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

// A web server that accepts connections and never answers.
class StuckServer {
 public:
  StuckServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      client_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      accepted_ = true;
      char buf[4096];
      while (::read(client_, buf, sizeof buf) > 0) {
      }
      peer_closed_ = true;  // the client's process has gone
    });
  }
  ~StuckServer() {
    ::shutdown(fd_, SHUT_RDWR);
    if (!accepted_) {  // unblock accept()
      const int c = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = htons(port_);
      ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      ::close(c);
    }
    if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
    thread_.join();
    ::close(client_);
    ::close(fd_);
  }
  int port() const { return port_; }
  bool peer_closed() const { return peer_closed_; }

 private:
  int fd_ = -1;
  std::atomic<int> client_{-1};
  std::atomic<bool> accepted_{false};
  std::atomic<bool> peer_closed_{false};
  std::uint16_t port_ = 0;
  std::thread thread_;
};

TEST_F(CommandRunnerTest, WgetAgainstAServerThatNeverAnswersIsEndedAtTheTimeLimit) {
  StuckServer server;
  auto r = runner(std::chrono::seconds(1));
  const auto start = Clock::now();
  EXPECT_EQ(run_batch({test::get_batch_record("127.0.0.1:" + std::to_string(server.port()), "CMD_IMP")}, *r).code(),
            Status::kOverran);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(4));
  for (int i = 0; i < 200 && !server.peer_closed(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(server.peer_closed());
  EXPECT_FALSE(fs::exists(root.temp() / "GET_KAVCMD.RET") && fs::file_size(root.temp() / "GET_KAVCMD.RET") > 0);
}

}  // namespace
}  // namespace kav::platform
