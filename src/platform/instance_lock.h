// One monitor per root: an exclusive lock on the lock file beside the work
// files (C:\OrbelaTeknovarium\Temp\KAVCOMANDA.LCK), held for the life of the
// program. The operating system drops it when the process ends, however it
// ends, so a crash never leaves a stale lock behind. POSIX: a byte-range
// write lock (an open-file-description lock where the system has one);
// Windows: LockFileEx.
//
// The file is one for every user of the machine: whoever starts first makes
// it readable and writable by all (POSIX: mode 0666 whatever the umask;
// Windows: a security descriptor that lets every signed-in user read and
// write it), so a monitor started by another user on the same root finds it
// held instead of failing to open it and running beside the first.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kav::platform {

class FileSystem;

inline constexpr std::string_view kInstanceLockPath = "C:\\OrbelaTeknovarium\\Temp\\KAVCOMANDA.LCK";

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

enum class LockOutcome {
  taken,        // this program holds the lock
  held,         // another program holds it: do not start
  unavailable,  // the lock file could not be opened or locked (`cause` says why)
};

// Takes the lock without waiting. The lock object holds it until destroyed.
// When the lock is not taken, `cause` (when given) receives the operating
// system's words for why.
LockOutcome take_instance_lock(FileSystem& files, std::unique_ptr<InstanceLock>& lock, std::string* cause = nullptr);

}  // namespace kav::platform
