#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/refused_links.h"

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
  // Never through a link, and made here or taken as it stands: only a file
  // this monitor created has its mode set.
  bool created = true;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    created = false;
    fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }
  if (fd < 0) {
    const int err = errno;
    struct stat st {};
    if (err == ELOOP || (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))) note_refused_link(path);
    if (cause != nullptr) *cause = std::strerror(err);
    return LockOutcome::unavailable;
  }
  // A plain file with no other name: one that is a link to another file (a
  // hard link) would have that file cut to the process number.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    if (S_ISREG(st.st_mode)) note_refused_link(path);
    ::close(fd);
    if (cause != nullptr) *cause = std::strerror(ELOOP);
    return LockOutcome::unavailable;
  }
  // Every user's, whatever the umask: a monitor of another user must be
  // able to open it to find it held.
  if (created && (st.st_mode & 0777) != 0666) ::fchmod(fd, 0666);
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
