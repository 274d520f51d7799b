#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "platform/instance_lock.h"

namespace kav::platform {

namespace {

class PosixInstanceLock final : public InstanceLock {
 public:
  explicit PosixInstanceLock(int fd) : fd_(fd) {}
  ~PosixInstanceLock() override { ::close(fd_); }

 private:
  int fd_;
};

int lock_whole(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
#ifdef F_OFD_SETLK
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
  if (errno != EINVAL) return -1;
#endif
  return ::fcntl(fd, F_SETLK, &fl);
}

}  // namespace

LockOutcome take_instance_lock(FileSystem& files, std::unique_ptr<InstanceLock>& lock, std::string* cause) {
  lock.reset();
  const std::string path = files.host_path(kInstanceLockPath);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (cause != nullptr) *cause = std::strerror(errno);
    return LockOutcome::unavailable;
  }
  // Every user's, whatever the umask of whoever made it: a monitor of
  // another user must be able to open it to find it held. (Only its owner
  // may change the mode; a file someone else made is left as it is.)
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) != 0666) ::fchmod(fd, 0666);
  if (lock_whole(fd) != 0) {
    const int err = errno;
    ::close(fd);
    if (cause != nullptr) *cause = std::strerror(err);
    return err == EAGAIN || err == EACCES ? LockOutcome::held : LockOutcome::unavailable;
  }
  // The holder's process number, for whoever looks.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
  }
  lock = std::make_unique<PosixInstanceLock>(fd);
  return LockOutcome::taken;
}

}  // namespace kav::platform
