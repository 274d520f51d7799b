#include <windows.h>
// (after windows.h)
#include <sddl.h>

#include <string>

#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/refused_links.h"

namespace kav::platform {

namespace {

class Win32InstanceLock final : public InstanceLock {
 public:
  explicit Win32InstanceLock(HANDLE h) : h_(h) {}
  ~Win32InstanceLock() override { CloseHandle(h_); }  // closing releases the lock

 private:
  HANDLE h_;
};

std::string system_words(DWORD err) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string words = n > 0 && text != nullptr ? std::string(text, n) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == '\r' || words.back() == '\n' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "erro " + std::to_string(err) : words + " (" + std::to_string(err) + ")";
}

// The rights a new lock file is made with: read and write for every
// signed-in user (AU) and the machine's users (BU), everything for the
// system and the administrators. Its own descriptor, not the folder's
// inherited one: the Temp folder may be one the installer did not make.
// A lock file made before keeps the rights it was made with.
constexpr char kEveryUser[] = "D:(A;;GRGW;;;AU)(A;;GRGW;;;BU)(A;;GA;;;SY)(A;;GA;;;BA)";

}  // namespace

LockOutcome take_instance_lock(FileSystem& files, std::unique_ptr<InstanceLock>& lock, std::string* cause) {
  lock.reset();
  const std::string path = files.host_path(kInstanceLockPath);
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof sa;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kEveryUser, SDDL_REVISION_1, &sd, nullptr)) {
    sa.lpSecurityDescriptor = sd;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         sd != nullptr ? &sa : nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  const DWORD open_err = GetLastError();
  if (sd != nullptr) LocalFree(sd);
  if (h == INVALID_HANDLE_VALUE) {
    if (cause != nullptr) *cause = system_words(open_err);
    return LockOutcome::unavailable;
  }
  // Opened as it stands: a link or junction planted in its place is refused,
  // never followed to the file it names.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || info.nNumberOfLinks > 1) {
    CloseHandle(h);
    note_refused_link(path);
    if (cause != nullptr) *cause = system_words(ERROR_CANT_ACCESS_FILE);
    return LockOutcome::unavailable;
  }
  OVERLAPPED ov{};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
    const DWORD err = GetLastError();
    CloseHandle(h);
    if (cause != nullptr) *cause = system_words(err);
    return err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING ? LockOutcome::held : LockOutcome::unavailable;
  }
  lock = std::make_unique<Win32InstanceLock>(h);
  return LockOutcome::taken;
}

}  // namespace kav::platform
