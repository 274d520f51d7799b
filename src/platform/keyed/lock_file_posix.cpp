// Record locks as POSIX byte-range locks. Open-file-description locks belong
// to the open file rather than to the process, so a second LockFile of the
// same process conflicts with the first, as a second program would; where
// the system lacks them, classic record locks serve between processes.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/keyed/keyed_format.h"

namespace kav::platform::keyed {

namespace {

#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
constexpr int kSetLockWait = F_OFD_SETLKW;
#else
constexpr int kSetLock = F_SETLK;
constexpr int kSetLockWait = F_SETLKW;
#endif

struct flock byte_lock(short type, std::uint64_t offset) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  fl.l_pid = 0;  // required by open-file-description locks
  return fl;
}

bool set_lock(int fd, short type, std::uint64_t offset, bool wait) {
  struct flock fl = byte_lock(type, offset);
  for (;;) {
    if (::fcntl(fd, wait ? kSetLockWait : kSetLock, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

std::string database_name(std::string_view host_path) { return std::string(host_path); }

bool LockFile::open(std::string_view host_path) {
  close();
  const std::string name(host_path);
  fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

bool LockFile::is_open() const { return fd_ >= 0; }

void LockFile::close() {
  if (fd_ >= 0) ::close(fd_);  // releases every lock of this description
  fd_ = -1;
}

bool LockFile::try_shared(std::uint64_t offset) { return fd_ >= 0 && set_lock(fd_, F_RDLCK, offset, false); }

bool LockFile::lock_exclusive(std::uint64_t offset, bool wait) {
  return fd_ >= 0 && set_lock(fd_, F_WRLCK, offset, wait);
}

void LockFile::release(std::uint64_t offset) {
  if (fd_ >= 0) set_lock(fd_, F_UNLCK, offset, false);
}

void sleep_ms(int ms) {
  if (ms <= 0) return;
  struct timespec ts {};
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace kav::platform::keyed
