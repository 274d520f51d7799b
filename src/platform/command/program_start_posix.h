// Programs started for the command interpreter's stand-in on POSIX
// systems: a start that costs the same whatever the size of the monitor,
// the programs' lock, and the guard that bounds a program's process group
// when the monitor ends in the middle of a run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>

namespace kav::platform::programs {

using Clock = std::chrono::steady_clock;

// Why a command was refused or went wrong, on the standard error.
void complain(std::string_view what, std::string_view detail);

// What the child does between vfork() and execve(): only system calls, no
// allocation, nothing that could take a lock held by another thread.
struct ChildPlan {
  const char* program;
  char* const* argv;
  const char* output;  // standard output and error, appended
  const char* folder;  // the working folder
  char* const* envp;   // the environment
  int keep_fds[2] = {-1, -1};  // handed on as descriptors 3 and 4
};

// Starts the program; its process id, or -errno. A start costs the same
// whatever the size of the monitor (vfork).
pid_t start_program(const ChildPlan& plan);

// Takes the programs' lock without waiting: false when it is held.
bool lock_programs(int fd);

// Bounds the process group of a running program when the monitor ends
// without reaching the end of run() (killed, crashed): a shell, started
// once, reads the group id of the running program and its deadline from a
// socket ("0 0" when none runs) and, when the socket closes because the
// monitor has gone, lets the group run until its deadline and kills what is
// left of it then. GNU Wget thus finishes writing an answer that the web
// application has already handed out. The programs' lock is held by the
// monitor, the shell and every program (an inherited descriptor of one open
// file, which a process lets go only when it ends, zombie or not): the shell
// gives up its own hold when the monitor goes, and then the lock tells it,
// and the next monitor, when the programs have ended. A group it had to kill
// is named in the cut file.
class GroupGuard {
 public:
  GroupGuard(std::string lock_path, std::string cut_path);
  ~GroupGuard();
  GroupGuard(const GroupGuard&) = delete;
  GroupGuard& operator=(const GroupGuard&) = delete;

  // Started before the first program, so that none runs unguarded.
  void ready();
  // A program runs in process group `group` until `deadline`, for `batch`.
  void running(pid_t group, Clock::time_point deadline, const std::string& batch);
  // No program runs.
  void none();
  // The programs' lock, handed on to every program; -1 without one.
  int lock() const { return lock_; }

 private:
  void start();
  void tell(std::string what);

  std::string lock_path_;
  std::string cut_path_;
  int lock_ = -1;  // the programs' lock, held for the monitor's life
  bool started_ = false;
  int fd_ = -1;
  pid_t pid_ = -1;
};

}  // namespace kav::platform::programs
