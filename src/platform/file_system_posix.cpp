#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/folder_names_posix.h"
#include "platform/refused_links.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::platform {

namespace {

Status status_of(int err);

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { close().ignore(); }

  Status write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return status_of(errno);
      if (n == 0) return Status::kFailed;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return Status::kOk;
  }
  long read(char* buf, std::size_t n) override {
    for (;;) {
      const ssize_t r = ::read(fd_, buf, n);
      if (r < 0 && errno == EINTR) continue;
      return static_cast<long>(r);
    }
  }
  Status sync() override {
    if (fd_ < 0) return Status::kFailed;
    return ::fsync(fd_) == 0 ? Status() : status_of(errno);
  }
  Status close() override {
    if (fd_ < 0) return Status::kOk;
    const int rc = ::close(fd_);
    const int err = errno;
    fd_ = -1;
    return rc == 0 ? Status() : status_of(err);
  }

 private:
  int fd_;
};

// The status of a failure with errno `err`; the system's words go with a
// plain failure, where the code alone does not tell what happened (a full
// disk, an I/O error).
Status status_of(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return Status::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return Status::kDenied;
    default:
      return Status(Status::kFailed, std::error_code(err, std::generic_category()).message());
  }
}

// The status of the call that failed just now, by errno.
Status last_failure() { return status_of(errno); }

class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  }

  Status open(std::string_view path, OpenMode mode, std::unique_ptr<File>& file) override {
    file.reset();
    const std::string host = host_path(path);
    std::string last;
    const Fd dir(open_parent(host, last));
    if (dir.get() < 0) {
      const int err = errno;
      if (err == ELOOP) return Status(Status::kDenied, "link");
      if (mode == OpenMode::output && (err == ENOENT || err == ENOTDIR)) return Status::kFailed;
      return status_of(err);
    }
    // Never through a link; a FIFO or device does not block the open, and
    // nothing is cut before the file is known to be a plain file of its own.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    switch (mode) {
      case OpenMode::input: flags |= O_RDONLY; break;
      case OpenMode::output: flags |= O_WRONLY | O_CREAT; break;
      case OpenMode::extend: flags |= O_WRONLY | O_APPEND; break;
    }
    const auto before = mode == OpenMode::output ? posix::FolderStamp::of(dir.get()) : std::nullopt;
    const int fd = ::openat(dir.get(), last.c_str(), flags, 0666);
    if (fd >= 0 && mode == OpenMode::output) {
      names_.changed(parent_of(host), before, {{last, true}}, posix::FolderStamp::of(dir.get()));
    }
    if (fd < 0) {
      const int err = errno;
      if (err == ELOOP || is_link(dir.get(), last)) {
        note_refused_link(host);
        return Status(Status::kDenied, "link");
      }
      // A missing folder is a missing file for input and extend, a permanent
      // error for output.
      if (mode == OpenMode::output && (err == ENOENT || err == ENOTDIR)) return Status::kFailed;
      return status_of(err);
    }
    struct stat st {};
    // Only plain files; one written must have no other name (a hard link
    // planted to a file elsewhere).
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (mode != OpenMode::input && st.st_nlink > 1)) {
      if (S_ISREG(st.st_mode)) note_refused_link(host);  // another name of a file
      ::close(fd);
      return Status::kFailed;
    }
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        (mode == OpenMode::output && ::ftruncate(fd, 0) != 0)) {
      ::close(fd);
      return Status::kFailed;
    }
    file = std::make_unique<PosixFile>(fd);
    return Status::kOk;
  }

  // Removals, renames and new folders act on the entry itself (a link is
  // removed or renamed, never what it points to), in folders reached
  // without following a link.
  Status remove(std::string_view path) override {
    const std::string host = host_path(path);
    std::string last;
    const Fd dir(open_parent(host, last));
    if (dir.get() < 0) return walk_failure();
    const auto before = posix::FolderStamp::of(dir.get());
    if (::unlinkat(dir.get(), last.c_str(), 0) != 0) return last_failure();
    names_.changed(parent_of(host), before, {{last, false}}, posix::FolderStamp::of(dir.get()));
    return Status();
  }

  Status rename(std::string_view from, std::string_view to) override {
    const std::string host_from = host_path(from);
    const std::string host_to = host_path(to);
    std::string last_from;
    std::string last_to;
    const Fd dir_from(open_parent(host_from, last_from));
    if (dir_from.get() < 0) return walk_failure();
    const Fd dir_to(open_parent(host_to, last_to));
    if (dir_to.get() < 0) return walk_failure();
    if (is_link(dir_from.get(), last_from)) {
      note_refused_link(host_from);
      return Status(Status::kDenied, "link");
    }
    const std::string parent_from = parent_of(host_from);
    const std::string parent_to = parent_of(host_to);
    const auto before_from = posix::FolderStamp::of(dir_from.get());
    const auto before_to = posix::FolderStamp::of(dir_to.get());
    if (::renameat(dir_from.get(), last_from.c_str(), dir_to.get(), last_to.c_str()) != 0) return last_failure();
    if (parent_from == parent_to) {
      names_.changed(parent_from, before_from, {{last_from, false}, {last_to, true}},
                     posix::FolderStamp::of(dir_from.get()));
    } else {
      names_.changed(parent_from, before_from, {{last_from, false}}, posix::FolderStamp::of(dir_from.get()));
      names_.changed(parent_to, before_to, {{last_to, true}}, posix::FolderStamp::of(dir_to.get()));
    }
    return Status();
  }

  bool exists(std::string_view path) override {
    const std::string host = host_path(path);
    std::string last;
    const Fd dir(open_parent(host, last));
    struct stat st {};
    return dir.get() >= 0 && ::fstatat(dir.get(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  }

  Status create_directory(std::string_view path) override {
    const std::string host = host_path(path);
    std::string last;
    const Fd dir(open_parent(host, last));
    if (dir.get() < 0) return walk_failure();
    const auto before = posix::FolderStamp::of(dir.get());
    if (::mkdirat(dir.get(), last.c_str(), 0777) == 0) {
      names_.changed(parent_of(host), before, {{last, true}}, posix::FolderStamp::of(dir.get()));
      return Status::kOk;
    }
    if (errno != EEXIST) return last_failure();
    struct stat st {};
    if (::fstatat(dir.get(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) return Status::kOk;
    if (S_ISLNK(st.st_mode)) {
      note_refused_link(host);
      return Status(Status::kDenied, "link");
    }
    return Status(Status::kFailed, "not a folder");
  }

  Status remove_folder(std::string_view path) override {
    const std::string host = host_path(path);
    std::string last;
    const Fd dir(open_parent(host, last));
    if (dir.get() < 0) return walk_failure();
    const auto before = posix::FolderStamp::of(dir.get());
    if (::unlinkat(dir.get(), last.c_str(), AT_REMOVEDIR) != 0) return last_failure();
    names_.changed(parent_of(host), before, {{last, false}}, posix::FolderStamp::of(dir.get()));
    return Status();
  }

  std::vector<std::string> list(std::string_view folder, bool folders) override {
    std::vector<std::string> out;
    const int fd = open_folder(host_path(folder));
    if (fd < 0) return out;
    DIR* d = ::fdopendir(fd);
    if (d == nullptr) {
      ::close(fd);
      return out;
    }
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      // Links are neither files nor folders here. The entry's type comes
      // with it where the file system gives it (no stat of every ticket).
      bool is_folder = e->d_type == DT_DIR;
      bool plain = e->d_type == DT_REG;
      if (e->d_type == DT_UNKNOWN) {
        struct stat st {};
        if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        is_folder = S_ISDIR(st.st_mode);
        plain = S_ISREG(st.st_mode);
      }
      if (folders ? is_folder : plain) out.push_back(record::cp1252(name));
    }
    ::closedir(d);
    return out;
  }

  Status sync_directory(std::string_view folder) override {
    const Fd fd(open_folder(host_path(folder)));
    if (fd.get() < 0) return walk_failure();
    return ::fsync(fd.get()) == 0 ? Status() : last_failure();
  }

  // Maps component by component; an existing entry whose name equals the
  // component without regard to (ASCII) case is taken, otherwise the
  // component stands as written. ".." never climbs above the root.
  //
  // Folders once found are remembered, so a path whose folders are known
  // costs one lstat() of its last component. A remembered folder is checked
  // again whenever a name inside it is missing: if the folder itself has gone
  // (renamed, or made again with another case), everything remembered is
  // dropped and the path mapped afresh. Folders that did not exist are never
  // remembered, so one made later is found at its first use.
  std::string host_path(std::string_view path) override {
    std::vector<std::string> parts;
    for (const std::string_view part : path_parts(path)) parts.push_back(record::to_utf8(part));
    const std::lock_guard<std::mutex> guard(mutex_);
    std::string host;
    if (!map(parts, true, host)) {
      folders_.clear();
      names_.clear();
      map(parts, false, host);
    }
    return host;
  }

 private:
  // A descriptor closed when it goes out of scope.
  class Fd {
   public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
      if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

   private:
    int fd_;
  };

  // The status of a walk() that failed just now: a link among the folders
  // is refused.
  static Status walk_failure() { return errno == ELOOP ? Status(Status::kDenied, "link") : last_failure(); }

  static bool is_link(int dir, const std::string& name) {
    struct stat st {};
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
  }

  // Opens the folders of `host` below the root one by one, following no
  // link: a link among them fails with ELOOP (and is noted). The root itself
  // is taken as it stands.
  int walk(const std::string& host, std::size_t end) {
    const int root = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return -1;
    if (host.compare(0, root_.size(), root_) != 0 || (host.size() > root_.size() && host[root_.size()] != '/')) {
      ::close(root);
      errno = EACCES;
      return -1;
    }
    int fd = root;
    std::size_t at = root_.size();
    while (at < end) {
      const std::size_t start = at + 1;
      std::size_t stop = host.find('/', start);
      if (stop == std::string::npos || stop > end) stop = end;
      const std::string name = host.substr(start, stop - start);
      at = stop;
      if (name.empty()) continue;
      const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0) {
        const int err = errno;
        const bool link = is_link(fd, name);
        ::close(fd);
        if (link) note_refused_link(host.substr(0, stop));
        errno = link ? ELOOP : err;
        return -1;
      }
      ::close(fd);
      fd = next;
    }
    return fd;
  }

  // The folder that holds the last name of `host`, reached by walk(); the
  // name in `last`.
  int open_parent(const std::string& host, std::string& last) {
    const std::size_t slash = host.rfind('/');
    if (slash == std::string::npos || slash < root_.size()) {
      errno = EINVAL;
      return -1;
    }
    last = host.substr(slash + 1);
    return walk(host, slash);
  }

  // The folder `host` itself, reached by walk().
  int open_folder(const std::string& host) { return walk(host, host.size()); }

  enum class Entry { found, missing, folder_gone };

  // Maps `parts` into `host`. False when a remembered folder has gone.
  bool map(const std::vector<std::string>& parts, bool use_known, std::string& host) {
    host = root_;
    std::string key;  // the folders so far, upper case
    bool from_memory = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const bool last = i + 1 == parts.size();
      if (!key.empty()) key += '\\';
      key += record::upper(parts[i]);
      if (!last && use_known) {
        if (const auto it = folders_.find(key); it != folders_.end()) {
          host = it->second;
          from_memory = true;
          continue;
        }
      }
      std::string name;
      const Entry entry = matching_entry(host, parts[i], name);
      if (entry == Entry::folder_gone && from_memory) return false;
      host += '/';
      host += name;
      if (entry == Entry::found && !last) {
        folders_[key] = host;
        from_memory = false;  // checked just now
      } else if (entry != Entry::found) {
        from_memory = false;  // nothing below a missing entry was remembered
      }
    }
    return true;
  }

  // The name in `dir` that stands for `name`, and whether it exists.
  Entry matching_entry(const std::string& dir, const std::string& name, std::string& found) {
    found = name;
    struct stat st {};
    if (::lstat((dir + "/" + name).c_str(), &st) == 0) return Entry::found;
    switch (names_.find(dir, name, found)) {
      case posix::FolderNames::Found::yes: return Entry::found;
      case posix::FolderNames::Found::no: return Entry::missing;
      case posix::FolderNames::Found::folder_gone: break;
    }
    return Entry::folder_gone;
  }

  static std::string parent_of(const std::string& host) {
    const std::size_t slash = host.rfind('/');
    return slash == std::string::npos ? std::string() : host.substr(0, slash);
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::string> folders_;  // upper-case Windows folder -> host folder
  posix::FolderNames names_;  // the names of large folders, for lookups without regard to case
  std::string root_;
};

}  // namespace

std::string default_root() {
  if (const char* root = std::getenv("KAVCOMANDA_ROOT"); root != nullptr && *root != '\0') return root;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/KavComanda";
}

std::unique_ptr<FileSystem> make_os_file_system(std::string root) {
  return std::make_unique<PosixFileSystem>(std::move(root));
}

}  // namespace kav::platform
