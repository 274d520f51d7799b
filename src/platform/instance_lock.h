// One monitor per root: an exclusive lock on the lock file beside the work
// files (C:\OrbelaTeknovarium\Temp\KAVCOMANDA.LCK), held for the life of the
// program. The operating system drops it when the process ends, however it
// ends, so a crash never leaves a stale lock behind. POSIX: a byte-range
// write lock (an open-file-description lock where the system has one);
// Windows: LockFileEx.
#pragma once

#include <memory>
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
  unavailable,  // no lock file could be made (no Temp folder): nothing to share
};

// Takes the lock without waiting. The lock object holds it until destroyed.
LockOutcome take_instance_lock(FileSystem& files, std::unique_ptr<InstanceLock>& lock);

}  // namespace kav::platform
