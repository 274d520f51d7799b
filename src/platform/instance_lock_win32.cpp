#include <windows.h>

#include <string>

#include "platform/file_system.h"
#include "platform/instance_lock.h"

namespace kav::platform {

namespace {

class Win32InstanceLock final : public InstanceLock {
 public:
  explicit Win32InstanceLock(HANDLE h) : h_(h) {}
  ~Win32InstanceLock() override { CloseHandle(h_); }  // closing releases the lock

 private:
  HANDLE h_;
};

}  // namespace

LockOutcome take_instance_lock(FileSystem& files, std::unique_ptr<InstanceLock>& lock) {
  lock.reset();
  const std::string path = files.host_path(kInstanceLockPath);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LockOutcome::unavailable;
  OVERLAPPED ov{};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
    const DWORD err = GetLastError();
    CloseHandle(h);
    return err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING ? LockOutcome::held : LockOutcome::unavailable;
  }
  lock = std::make_unique<Win32InstanceLock>(h);
  return LockOutcome::taken;
}

}  // namespace kav::platform
