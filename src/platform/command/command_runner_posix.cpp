// The command interpreter's stand-in on POSIX systems (see command_runner.h).
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/command/command_line.h"
#include "platform/command/program_start_posix.h"
#include "platform/command/system_interpreter.h"
#include "platform/command_runner.h"
#include "platform/status.h"
#include "platform/file_system.h"

extern char** environ;  // the monitor's environment, handed to the programs

namespace kav::platform {

namespace {

using programs::Clock;
using programs::ChildPlan;
using programs::complain;
using programs::GroupGuard;
using programs::lock_programs;
using programs::start_program;

// The folder programs run in: relative names in batch lines land there.
constexpr std::string_view kWorkFolder = kCommandWorkFolder;
constexpr std::size_t kMaxBatchBytes = 64 * 1024;

bool is_executable_file(const std::string& host) {
  struct stat st {};
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(host.c_str(), X_OK) == 0;
}

class PosixCommandRunner final : public CommandRunner {
 public:
  PosixCommandRunner(FileSystem& files, CommandOptions options)
      : files_(files),
        options_(std::move(options)),
        guard_(files.host_path(kProgramsLockPath), files.host_path(kProgramCutPath)) {}

  Status run(std::string_view command_line, int /*window_mode*/) override {
    const Clock::time_point deadline = Clock::now() + time_limit_of(options_, command_line);
    const command::Request request = command::parse_command_line(command_line);
    switch (request.kind) {
      case command::Request::Kind::remove:
        return remove_file(request.path);
      case command::Request::Kind::batch:
        return run_batch(request.path, deadline);
      case command::Request::Kind::refused:
        break;
    }
    std::string_view shown = command_line;
    while (!shown.empty() && shown.back() == ' ') shown.remove_suffix(1);
    complain("refused (" + request.reason + ")", shown);
    return Status::kRefused;
  }

 private:
  Status remove_file(const std::string& path) {
    const std::string host = files_.host_path(path);
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) return Status();  // nothing to delete
    if (S_ISDIR(st.st_mode)) {
      complain("DEL of a folder refused", path);
      return Status::exited(1);
    }
    if (::unlink(host.c_str()) != 0 && errno != ENOENT) {
      complain(std::string("DEL failed (") + std::strerror(errno) + ")", path);
      return Status::exited(1);
    }
    return Status();
  }

  struct Step {
    std::string program;  // Windows path as written
    std::vector<std::string> arguments;
  };

  Status run_batch(const std::string& path, Clock::time_point deadline) {
    std::string contents;
    if (!read_batch(path, contents)) return Status::kRefused;

    // Every line is checked before any runs: a batch file that holds
    // something else runs not at all.
    std::vector<Step> steps;
    for (const std::string& line : command::batch_lines(contents)) {
      std::vector<std::string> words;
      std::string error;
      if (!command::split_words(line, true, words, error)) {
        complain("batch line refused (" + error + ")", line);
        return Status::kRefused;
      }
      if (words.empty()) continue;  // a line of empty quotes
      if (!command::is_windows_path(words[0])) {
        complain("batch line refused (the program needs a full path)", line);
        return Status::kRefused;
      }
      steps.push_back(Step{words[0], std::vector<std::string>(words.begin() + 1, words.end())});
    }

    // Without its settings GNU Wget would retry into the next answer and
    // wait minutes for a silent server.
    if (!ensure_wget_settings(files_)) {
      complain("settings file for GNU Wget not written", kWgetSettingsPath);
      return Status::kRefused;
    }
    std::vector<std::string> environment = program_environment();
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    Status result;
    for (const Step& step : steps) {
      result = run_program(step, path, envp.data(), deadline);
      if (result == Status::kOverran) break;
    }
    return result;
  }

  bool read_batch(const std::string& path, std::string& contents) {
    std::unique_ptr<File> file;
    if (!files_.open(path, OpenMode::input, file).ok()) {
      complain("batch file not found", path);
      return false;
    }
    char buf[4096];
    for (;;) {
      const long n = file->read(buf, sizeof buf);
      if (n < 0) {
        complain("batch file unreadable", path);
        return false;
      }
      if (n == 0) break;
      contents.append(buf, static_cast<std::size_t>(n));
      if (contents.size() > kMaxBatchBytes) {
        complain("batch file too large", path);
        return false;
      }
    }
    return true;
  }

  // The monitor's environment with WGETRC naming our settings file for GNU
  // Wget instead of any the user has.
  std::vector<std::string> program_environment() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "WGETRC=", 7) != 0) env.emplace_back(*e);
    }
    env.push_back("WGETRC=" + files_.host_path(kWgetSettingsPath));
    return env;
  }

  // The program's host path: as named, or with ".EXE" added or removed.
  bool find_program(const std::string& windows_path, std::string& host) {
    std::vector<std::string> candidates{windows_path};
    if (command::ends_with_ignoring_case(windows_path, ".EXE"))
      candidates.push_back(windows_path.substr(0, windows_path.size() - 4));
    else
      candidates.push_back(windows_path + ".EXE");
    for (const std::string& c : candidates) {
      host = files_.host_path(c);
      if (is_executable_file(host)) return true;
    }
    return false;
  }

  Status run_program(const Step& step, const std::string& batch, char* const* envp, Clock::time_point deadline) {
    std::string program;
    if (!find_program(step.program, program)) {
      complain("program not found", step.program);
      return Status::kRefused;
    }
    std::vector<std::string> args{program};
    const auto host = [this](std::string_view p) { return files_.host_path(p); };
    for (const std::string& a : step.arguments) args.push_back(command::map_argument(a, host));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string output = options_.output_path.empty() ? "/dev/null" : files_.host_path(options_.output_path);
    const std::string folder = files_.host_path(kWorkFolder);
    guard_.ready();
    const pid_t pid =
        start_program(ChildPlan{program.c_str(), argv.data(), output.c_str(), folder.c_str(), envp, {guard_.lock(), -1}});
    if (pid < 0) {
      complain(std::string("cannot start the program (") + std::strerror(-pid) + ")", step.program);
      return Status::kRefused;
    }
    guard_.running(pid, deadline, batch);
    return wait_for(pid, deadline, step.program);
  }

  // Waits for the program until the deadline. Whatever the program left
  // running in its process group is ended with it.
  Status wait_for(pid_t pid, Clock::time_point deadline, const std::string& program) {
    const Ended ended = await_end(pid, deadline);
    if (ended == Ended::lost) {  // reaped elsewhere (SIGCHLD ignored): its group id may already be reused
      guard_.none();
      complain("lost track of the program", program);
      return Status::kRefused;
    }
    // Ended but not reaped, or still running: either way its group id is
    // not reused yet.
    ::kill(-pid, SIGKILL);
    guard_.none();
    const int status = reap(pid);
    if (ended == Ended::overran) {
      complain("time limit overrun, program ended", program);
      return Status::kOverran;
    }
    if (WIFEXITED(status)) return Status::exited(WEXITSTATUS(status));
    return Status::kSignalled;
  }

  enum class Ended { ended, overran, lost };

  // Whether the program ended (left unreaped) before the deadline.
  static Ended await_end(pid_t pid, Clock::time_point deadline) {
#ifdef SYS_pidfd_open
    // A descriptor that becomes readable when the process ends: one poll,
    // no wake-ups meanwhile.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
      Ended result = Ended::overran;
      for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{pidfd, POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000 * 1000)));
        if (rc < 0 && errno == EINTR) continue;
        if (rc != 0) {
          result = Ended::ended;
          break;
        }
      }
      ::close(pidfd);
      if (result == Ended::overran) return result;
      return has_ended(pid) ? Ended::ended : Ended::lost;
    }
#endif
    // Without process descriptors (older kernels, other systems): look again
    // after pauses that grow from 1 to 20 ms.
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
      siginfo_t info{};
      const int rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
      if (rc != 0 && errno == EINTR) continue;
      if (rc != 0) return Ended::lost;
      if (info.si_pid == pid) return Ended::ended;
      const auto now = Clock::now();
      if (now >= deadline) return Ended::overran;
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
  }

  // Whether the program has ended and waits, unreaped, for us.
  static bool has_ended(pid_t pid) {
    for (;;) {
      siginfo_t info{};
      const int rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
      if (rc != 0 && errno == EINTR) continue;
      return rc == 0 && info.si_pid == pid;
    }
  }

  static int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  }

  FileSystem& files_;
  CommandOptions options_;
  GroupGuard guard_;
};

}  // namespace

bool wait_for_earlier_programs(FileSystem& files, std::chrono::milliseconds limit) {
  const std::string path = files.host_path(kProgramsLockPath);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return true;  // no lock file: no program could hold it
  const auto deadline = Clock::now() + limit;
  bool ended = lock_programs(fd);
  while (!ended && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ended = lock_programs(fd);
  }
  ::close(fd);  // the lock, if taken, goes with it
  return ended;
}

std::unique_ptr<CommandRunner> make_command_runner(FileSystem& files, CommandOptions options) {
  return std::make_unique<PosixCommandRunner>(files, std::move(options));
}

// No cmd.exe here: the stand-in above reads the lines itself.
std::string system_command_interpreter() { return {}; }

}  // namespace kav::platform
