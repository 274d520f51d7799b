#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/status.h"
#include "platform/file_system.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::platform {

namespace {

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { close(); }

  bool write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  long read(char* buf, std::size_t n) override {
    for (;;) {
      const ssize_t r = ::read(fd_, buf, n);
      if (r < 0 && errno == EINTR) continue;
      return static_cast<long>(r);
    }
  }
  bool sync() override { return fd_ >= 0 && ::fsync(fd_) == 0; }
  bool close() override {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

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
      return Status::kFailed;
  }
}

class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  }

  Status open(std::string_view path, OpenMode mode, std::unique_ptr<File>& file) override {
    file.reset();
    const std::string host = host_path(path);
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::input: flags |= O_RDONLY; break;
      case OpenMode::output: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
      case OpenMode::extend: flags |= O_WRONLY | O_APPEND; break;
    }
    const int fd = ::open(host.c_str(), flags, 0666);
    if (fd < 0) {
      // A missing folder is a missing file for input and extend, a permanent
      // error for output.
      if (mode == OpenMode::output && (errno == ENOENT || errno == ENOTDIR)) return Status::kFailed;
      return status_of(errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      return Status::kFailed;
    }
    file = std::make_unique<PosixFile>(fd);
    return Status::kOk;
  }

  bool remove(std::string_view path) override { return ::unlink(host_path(path).c_str()) == 0; }

  bool rename(std::string_view from, std::string_view to) override {
    return ::rename(host_path(from).c_str(), host_path(to).c_str()) == 0;
  }

  bool exists(std::string_view path) override {
    struct stat st {};
    return ::stat(host_path(path).c_str(), &st) == 0;
  }

  bool create_directory(std::string_view path) override {
    return ::mkdir(host_path(path).c_str(), 0777) == 0 || errno == EEXIST;
  }

  std::vector<std::string> list(std::string_view folder, bool folders) override {
    std::vector<std::string> out;
    const std::string host = host_path(folder);
    DIR* d = ::opendir(host.c_str());
    if (d == nullptr) return out;
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st {};
      if (::stat((host + "/" + name).c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode) == folders) out.push_back(record::cp1252(name));
    }
    ::closedir(d);
    return out;
  }

  bool sync_directory(std::string_view folder) override {
    const int fd = ::open(host_path(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
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
      map(parts, false, host);
    }
    return host;
  }

 private:
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
  static Entry matching_entry(const std::string& dir, const std::string& name, std::string& found) {
    found = name;
    struct stat st {};
    if (::lstat((dir + "/" + name).c_str(), &st) == 0) return Entry::found;
    DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str());
    if (d == nullptr) return Entry::folder_gone;
    Entry entry = Entry::missing;
    while (const dirent* e = ::readdir(d)) {
      if (::strcasecmp(e->d_name, name.c_str()) == 0) {
        found = e->d_name;
        entry = Entry::found;
        break;
      }
    }
    ::closedir(d);
    return entry;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::string> folders_;  // upper-case Windows folder -> host folder
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
