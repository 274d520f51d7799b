#include "platform/command/program_start_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>
#include <utility>

#include "platform/answer_bound.h"
#include "record/cp1252.h"

extern char** environ;

namespace kav::platform::programs {

namespace {

// Moves the descriptor opened on `path` to `target`; false on an error.
bool open_as(int target, const char* path, int flags) {
  const int fd = ::open(path, flags, 0666);
  if (fd < 0) return false;
  if (fd == target) return true;
  const bool ok = ::dup2(fd, target) == target;
  ::close(fd);
  return ok;
}

[[noreturn]] void become_program(const ChildPlan& plan, volatile int* error) {
  // Its own process group, so that the whole tree can be ended at once.
  if (::setpgid(0, 0) != 0) {
    *error = errno;
    ::_exit(127);
  }
  // No file the program writes grows past the bound of an answer: GNU Wget
  // on a page that never ends is stopped by SIGXFSZ (its --quota never
  // stops a single download), one byte over, so the answer shows it.
  struct rlimit size_limit {};
  size_limit.rlim_cur = size_limit.rlim_max = static_cast<rlim_t>(kMaxAnswerBytes + 1);
  if (::setrlimit(RLIMIT_FSIZE, &size_limit) != 0) {
    *error = errno;
    ::_exit(127);
  }
  // Signals as for a new program: nothing ignored, nothing blocked (handlers
  // fall back to the default at execve by themselves).
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    struct sigaction sa {};
    if (::sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN) ::signal(sig, SIG_DFL);
  }
  if (!open_as(0, "/dev/null", O_RDONLY) || !open_as(1, plan.output, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW) ||
      ::dup2(1, 2) != 2 || ::chdir(plan.folder) != 0) {
    *error = errno;
    ::_exit(127);
  }
  // Moved above 4 first, so that placing one never overwrites the other.
  int fds[2] = {plan.keep_fds[0], plan.keep_fds[1]};
  int first_closed = 3;
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 0 && fds[i] <= 4 && (fds[i] = ::fcntl(fds[i], F_DUPFD, 5)) < 0) {
      *error = errno;
      ::_exit(127);
    }
  }
  for (int i = 0; i < 2; ++i) {
    if (fds[i] < 0) continue;
    if (::dup2(fds[i], 3 + i) != 3 + i) {
      *error = errno;
      ::_exit(127);
    }
    first_closed = 4 + i;
  }
  ::closefrom(first_closed);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(plan.program, plan.argv, plan.envp);
  *error = errno;
  ::_exit(127);
}

}  // namespace

void complain(std::string_view what, std::string_view detail) {
  std::cerr << "kav command: " << what;
  if (!detail.empty()) std::cerr << ": " << record::to_utf8(detail);
  std::cerr << std::endl;
}

// vfork() shares the memory and borrows the caller's thread until execve();
// the child's failure reaches us in `error`.
pid_t start_program(const ChildPlan& plan) {
  volatile int error = 0;
  // No handler of ours may run in the child before execve.
  sigset_t all, old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t pid = ::vfork();
  if (pid == 0) become_program(plan, &error);
  const int vfork_error = errno;
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (pid < 0) return -vfork_error;
  if (error != 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -error;
  }
  return pid;
}

bool lock_programs(int fd) {
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EINTR) return false;
  }
}

GroupGuard::GroupGuard(std::string lock_path, std::string cut_path)
    : lock_path_(std::move(lock_path)), cut_path_(std::move(cut_path)) {}

GroupGuard::~GroupGuard() {
  if (lock_ >= 0) ::close(lock_);
  if (fd_ < 0) return;
  ::close(fd_);  // the shell reads the end of the socket and leaves
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

void GroupGuard::ready() {
  if (!started_) start();
}

void GroupGuard::running(pid_t group, Clock::time_point deadline, const std::string& batch) {
  ready();
  const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now());
  const auto at = std::chrono::duration_cast<std::chrono::seconds>(
      (std::chrono::system_clock::now() + left).time_since_epoch());
  std::string name = batch;  // one line, whatever it holds
  std::replace(name.begin(), name.end(), '\n', ' ');
  tell(std::to_string(group) + " " + std::to_string(at.count()) + " " + name);
}

void GroupGuard::none() { tell("0 0"); }

void GroupGuard::start() {
  started_ = true;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
  // $1 the cut file, $2 the lock file, $3 1 when the programs hold it.
  // Without the lock or flock(1) a group counts as running while it exists.
  static const char kScript[] =
      "m=$1; l=$2; g=0; d=0; c=; while read -r a b p <&3; do g=$a; d=$b; c=$p; done; exec 4>&-; "
      "[ \"$g\" = 0 ] && exit 0; "
      "if [ \"$3\" = 1 ] && command -v flock >/dev/null 2>&1; then alive() { ! flock -n \"$l\" true 2>/dev/null; }; "
      "else alive() { kill -s 0 -- \"-$g\" 2>/dev/null; }; fi; "
      "while alive && [ \"$(date +%s)\" -lt \"$d\" ]; do sleep 0.05; done; "
      "alive && { printf '%s\\n' \"$c\" > \"$m\"; kill -s KILL -- \"-$g\" 2>/dev/null; }; exit 0";
  char sh[] = "sh", c[] = "-c";
  char script[sizeof kScript];
  std::memcpy(script, kScript, sizeof kScript);
  // The guard of a monitor that went a moment ago may still look at the
  // lock (it takes it for an instant): a few tries.
  lock_ = ::open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  bool locked = lock_ >= 0 && lock_programs(lock_);
  for (int tries = 0; lock_ >= 0 && !locked && tries < 50; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    locked = lock_programs(lock_);
  }
  if (lock_ >= 0 && !locked) {
    ::close(lock_);
    lock_ = -1;
  }
  char held[] = {locked ? '1' : '0', '\0'};
  char* argv[] = {sh, c, script, sh, cut_path_.data(), lock_path_.data(), held, nullptr};
  const pid_t pid = start_program(ChildPlan{"/bin/sh", argv, "/dev/null", "/", environ, {ends[1], lock_}});
  ::close(ends[1]);
  if (pid < 0) {
    ::close(ends[0]);
    complain("no guard for the programs' process groups", "");
    return;
  }
  fd_ = ends[0];
  pid_ = pid;
}

void GroupGuard::tell(std::string what) {
  if (fd_ < 0) return;
  const std::string line = what + "\n";
  if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    complain("the guard of the programs' process groups has gone", "");
    ::close(fd_);
    fd_ = -1;
    int status = 0;
    ::waitpid(pid_, &status, WNOHANG);
  }
}

}  // namespace kav::platform::programs
