// The command interpreter's stand-in on POSIX systems (see command_runner.h).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>
#include <vector>

#include "platform/command/command_line.h"
#include "platform/command_runner.h"
#include "platform/file_status.h"
#include "platform/file_system.h"
#include "record/cp1252.h"

extern char** environ;

namespace kav::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The folder programs run in: relative names in batch lines land there.
constexpr std::string_view kWorkFolder = kCommandWorkFolder;
constexpr std::size_t kMaxBatchBytes = 64 * 1024;

void complain(std::string_view what, std::string_view detail) {
  std::cerr << "kav command: " << what;
  if (!detail.empty()) std::cerr << ": " << record::to_utf8(detail);
  std::cerr << std::endl;
}

bool is_executable_file(const std::string& host) {
  struct stat st {};
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(host.c_str(), X_OK) == 0;
}

// Owns the spawn attributes for one child.
class SpawnSetup {
 public:
  SpawnSetup() {
    ok_ = posix_spawn_file_actions_init(&actions_) == 0;
    ok_ = posix_spawnattr_init(&attr_) == 0 && ok_;
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool prepare(const std::string& work_folder, const std::string& output) {
    // Own process group (so the whole tree can be ended), signals as new.
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    ok_ = ok_ && posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                      POSIX_SPAWN_SETSIGDEF) == 0;
    ok_ = ok_ && posix_spawnattr_setpgroup(&attr_, 0) == 0;
    ok_ = ok_ && posix_spawnattr_setsigmask(&attr_, &none) == 0;
    ok_ = ok_ && posix_spawnattr_setsigdefault(&attr_, &all) == 0;
    ok_ = ok_ && posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0;
    ok_ = ok_ && posix_spawn_file_actions_addopen(&actions_, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                                  0666) == 0;
    ok_ = ok_ && posix_spawn_file_actions_adddup2(&actions_, 1, 2) == 0;
    ok_ = ok_ && posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    ok_ = ok_ && posix_spawn_file_actions_addchdir_np(&actions_, work_folder.c_str()) == 0;
    return ok_;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attr_{};
  bool ok_ = false;
};

class PosixCommandRunner final : public CommandRunner {
 public:
  PosixCommandRunner(FileSystem& files, CommandOptions options) : files_(files), options_(std::move(options)) {}

  int run(std::string_view command_line, int /*window_mode*/) override {
    const Clock::time_point deadline = Clock::now() + options_.time_limit;
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
    return kCommandRefused;
  }

 private:
  int remove_file(const std::string& path) {
    const std::string host = files_.host_path(path);
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) return 0;  // nothing to delete
    if (S_ISDIR(st.st_mode)) {
      complain("DEL of a folder refused", path);
      return 1;
    }
    if (::unlink(host.c_str()) != 0 && errno != ENOENT) {
      complain(std::string("DEL failed (") + std::strerror(errno) + ")", path);
      return 1;
    }
    return 0;
  }

  struct Step {
    std::string program;  // Windows path as written
    std::vector<std::string> arguments;
  };

  int run_batch(const std::string& path, Clock::time_point deadline) {
    std::string contents;
    if (!read_batch(path, contents)) return kCommandRefused;

    // Every line is checked before any runs: a batch file that holds
    // something else runs not at all.
    std::vector<Step> steps;
    for (const std::string& line : command::batch_lines(contents)) {
      std::vector<std::string> words;
      std::string error;
      if (!command::split_words(line, true, words, error)) {
        complain("batch line refused (" + error + ")", line);
        return kCommandRefused;
      }
      if (words.empty()) continue;  // a line of empty quotes
      if (!command::is_windows_path(words[0])) {
        complain("batch line refused (the program needs a full path)", line);
        return kCommandRefused;
      }
      steps.push_back(Step{words[0], std::vector<std::string>(words.begin() + 1, words.end())});
    }

    int result = 0;
    for (const Step& step : steps) {
      result = run_program(step, deadline);
      if (result == kCommandOverran) break;
    }
    return result;
  }

  bool read_batch(const std::string& path, std::string& contents) {
    std::unique_ptr<File> file;
    if (files_.open(path, OpenMode::input, file) != status::ok) {
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

  int run_program(const Step& step, Clock::time_point deadline) {
    std::string program;
    if (!find_program(step.program, program)) {
      complain("program not found", step.program);
      return kCommandRefused;
    }
    std::vector<std::string> args{program};
    const auto host = [this](std::string_view p) { return files_.host_path(p); };
    for (const std::string& a : step.arguments) args.push_back(command::map_argument(a, host));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string output = options_.output_path.empty() ? "/dev/null" : files_.host_path(options_.output_path);
    SpawnSetup setup;
    if (!setup.prepare(files_.host_path(kWorkFolder), output)) {
      complain("cannot prepare the program's start", step.program);
      return kCommandRefused;
    }
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), setup.actions(), setup.attr(), argv.data(), environ);
    if (rc != 0) {
      complain(std::string("cannot start the program (") + std::strerror(rc) + ")", step.program);
      return kCommandRefused;
    }
    return wait_for(pid, deadline, step.program);
  }

  // Waits for the program until the deadline. Whatever the program left
  // running in its process group is ended with it.
  static int wait_for(pid_t pid, Clock::time_point deadline, const std::string& program) {
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
      siginfo_t info{};
      const int rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
      if (rc != 0 && errno == EINTR) continue;
      if (rc != 0) {  // reaped elsewhere (SIGCHLD ignored): its group id may already be reused
        complain("lost track of the program", program);
        return kCommandRefused;
      }
      if (info.si_pid == pid) break;  // ended, still unreaped, so its group id is not reused
      const auto now = Clock::now();
      if (now >= deadline) {
        ::kill(-pid, SIGKILL);
        reap(pid);
        complain("time limit overrun, program ended", program);
        return kCommandOverran;
      }
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL);
    const int status = reap(pid);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return kCommandSignalled;
  }

  static int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  }

  FileSystem& files_;
  CommandOptions options_;
};

}  // namespace

std::unique_ptr<CommandRunner> make_command_runner(FileSystem& files, CommandOptions options) {
  return std::make_unique<PosixCommandRunner>(files, std::move(options));
}

}  // namespace kav::platform
