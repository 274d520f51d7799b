// Case-blind lookups in large folders without reading the whole folder at
// every lookup (POSIX systems; included by file_system_posix.cpp only).
//
// A Windows path names a file without regard to case; on a POSIX system a
// name that is not there as written is looked for among the folder's
// entries. A spool folder holds tens of thousands of tickets and every new
// file is such a miss, so a folder of many entries keeps an index of its
// names, upper case to actual, valid while the folder's stamp (identity and
// times of change) stands. A change this process makes keeps the index
// valid: it notes the stamp before the change, and when that was the
// index's, takes the change and the new stamp in. A change by another
// process in the instant between ours and the stamp taken after it goes
// unseen until the folder changes again; it matters only for a name that
// differs from another in case alone.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace kav::platform::posix {

struct FolderStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  timespec ctime{};

  static std::optional<FolderStamp> of(int dir_fd) {
    struct stat st {};
    if (::fstat(dir_fd, &st) != 0) return std::nullopt;
    return FolderStamp{st.st_dev, st.st_ino, st.st_mtim, st.st_ctim};
  }
  static std::optional<FolderStamp> of(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.empty() ? "/" : dir.c_str(), &st) != 0) return std::nullopt;
    return FolderStamp{st.st_dev, st.st_ino, st.st_mtim, st.st_ctim};
  }
  bool operator==(const FolderStamp& o) const {
    return dev == o.dev && ino == o.ino && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

class FolderNames {
 public:
  // Folders of fewer entries are read at every lookup, as before.
  static constexpr std::size_t kIndexFrom = 256;

  enum class Found { yes, no, folder_gone };

  // The entry of `dir` whose name equals `name` without regard to ASCII
  // case (as strcasecmp), in `found`.
  Found find(const std::string& dir, const std::string& name, std::string& found) {
    const std::optional<FolderStamp> stamp = FolderStamp::of(dir);
    if (!stamp) return Found::folder_gone;
    const std::string key = upper(name);
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      if (const auto it = folders_.find(dir); it != folders_.end() && it->second.stamp == *stamp) {
        const auto n = it->second.names.find(key);
        if (n == it->second.names.end()) return Found::no;
        found = n->second;
        return Found::yes;
      }
    }
    DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str());
    if (d == nullptr) return Found::folder_gone;
    Index index{*stamp, {}};
    Found result = Found::no;
    while (const dirent* e = ::readdir(d)) {
      std::string entry = e->d_name;
      std::string entry_key = upper(entry);
      if (result == Found::no && entry_key == key) {
        found = entry;
        result = Found::yes;
      }
      index.names.emplace(std::move(entry_key), std::move(entry));
    }
    ::closedir(d);
    const std::lock_guard<std::mutex> guard(mutex_);
    if (index.names.size() >= kIndexFrom) {
      folders_[dir] = std::move(index);
    } else {
      folders_.erase(dir);
    }
    return result;
  }

  // A change this process made in `dir` (names made or gone), `before` the
  // folder's stamp taken just before it.
  void changed(const std::string& dir, const std::optional<FolderStamp>& before,
               std::initializer_list<std::pair<std::string, bool>> names, const std::optional<FolderStamp>& after) {
    const std::lock_guard<std::mutex> guard(mutex_);
    const auto it = folders_.find(dir);
    if (it == folders_.end()) return;
    if (!before || !after || !(it->second.stamp == *before)) {
      folders_.erase(it);  // changed by someone else meanwhile: read again when needed
      return;
    }
    for (const auto& [name, present] : names) {
      if (present) {
        it->second.names[upper(name)] = name;
      } else {
        it->second.names.erase(upper(name));
      }
    }
    it->second.stamp = *after;
  }

  // Every index dropped (a folder gone, renamed or made again).
  void clear() {
    const std::lock_guard<std::mutex> guard(mutex_);
    folders_.clear();
  }

 private:
  struct Index {
    FolderStamp stamp;
    std::unordered_map<std::string, std::string> names;  // upper case -> actual
  };

  static std::string upper(std::string s) {
    for (char& c : s) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, Index> folders_;  // by host folder
};

}  // namespace kav::platform::posix
