// Record locks as Windows byte-range locks (LockFileEx). Such locks belong to
// the file handle, so two LockFile objects of one process conflict as two
// programs do. Nothing ever reads or writes the lock file itself, so the
// mandatory nature of Windows locks does not matter.
#include <windows.h>

#include "platform/keyed/keyed_format.h"
#include "record/cp1252.h"

namespace kav::platform::keyed {

namespace {

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

bool lock(void* handle, DWORD flags, std::uint64_t offset) {
  if (handle == nullptr) return false;
  OVERLAPPED ov = at(offset);
  return LockFileEx(static_cast<HANDLE>(handle), flags, 0, 1, 0, &ov) != 0;
}

}  // namespace

// Windows paths are Windows-1252 here; SQLite takes UTF-8 names.
std::string database_name(std::string_view host_path) { return record::to_utf8(host_path); }

bool LockFile::open(std::string_view host_path) {
  close();
  const std::string name(host_path);
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  handle_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
  return handle_ != nullptr;
}

bool LockFile::is_open() const { return handle_ != nullptr; }

void LockFile::close() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));  // releases every lock of the handle
  handle_ = nullptr;
}

bool LockFile::try_shared(std::uint64_t offset) { return lock(handle_, LOCKFILE_FAIL_IMMEDIATELY, offset); }

bool LockFile::lock_exclusive(std::uint64_t offset, bool wait) {
  return lock(handle_, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), offset);
}

void LockFile::release(std::uint64_t offset) {
  if (handle_ == nullptr) return;
  OVERLAPPED ov = at(offset);
  UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &ov);
}

void sleep_ms(int ms) {
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

}  // namespace kav::platform::keyed
