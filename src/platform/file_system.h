// Files named by Windows paths.
//
// The system names every file by a fixed Windows path
// ("C:\OrbelaTeknovarium\Temp\GET_KAVCMD.RET",
// "\OrbelaTeknovarium\KAV\Arquivos\PRODUTO.ORB"). On
// Windows those paths are used as they stand, unless a root other than
// drive C: is given (tests do). Elsewhere, and under such a root, a root folder stands
// for drive C: and for the current drive, and each path component is matched
// without regard to case, as Windows does. An in-memory file system serves
// the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kav::platform {

enum class OpenMode {
  input,   // read from the start; the file must exist
  output,  // create or truncate
  extend,  // append; the file must exist
};

// Writes, syncs and closes report ok or kFailed (kDenied where the system
// refuses the handle, e.g. a file opened for reading); a message may tell
// the system's reason.
class File {
 public:
  virtual ~File() = default;
  [[nodiscard]] virtual Status write(std::string_view bytes) = 0;
  // Reads up to `n` bytes; 0 at the end of the file, -1 on an error.
  virtual long read(char* buf, std::size_t n) = 0;
  [[nodiscard]] virtual Status sync() = 0;  // written bytes reach the disk
  [[nodiscard]] virtual Status close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens a file: ok, kNotFound, kDenied or kFailed.
  virtual Status open(std::string_view windows_path, OpenMode mode, std::unique_ptr<File>& file) = 0;
  // Opens a file for reading and holds it while `file` lives: on Windows it
  // is shared for reading only, so that nobody can write, delete or rename
  // it meanwhile (an open for writing elsewhere refuses it, kDenied).
  // Elsewhere it is an open for input. Status as open().
  virtual Status hold(std::string_view windows_path, std::unique_ptr<File>& file) {
    return open(windows_path, OpenMode::input, file);
  }
  // Removes a file: ok, kNotFound, kDenied (held, or not allowed) or kFailed.
  [[nodiscard]] virtual Status remove(std::string_view windows_path) = 0;
  // Replaces `to` by `from` in one step. Status as remove(); kDenied also for
  // a link refused.
  [[nodiscard]] virtual Status rename(std::string_view from, std::string_view to) = 0;
  virtual bool exists(std::string_view windows_path) = 0;
  // Makes a folder; ok when it exists already. Status as remove().
  [[nodiscard]] virtual Status create_directory(std::string_view windows_path) = 0;
  // Removes an empty folder (never a link's target): ok, kNotFound, kDenied,
  // or kFailed (one that holds anything).
  [[nodiscard]] virtual Status remove_folder(std::string_view windows_path) = 0;
  // The names (Windows-1252) of the entries of a folder, files or folders as
  // asked, in no particular order; empty when the folder does not exist.
  virtual std::vector<std::string> list(std::string_view windows_folder, bool folders) = 0;
  // Makes the entries of a folder (new names, renames) durable where the
  // operating system needs it; ok where it needs nothing.
  [[nodiscard]] virtual Status sync_directory(std::string_view windows_folder) = 0;
  // The host's name for a Windows path (the path itself on Windows).
  virtual std::string host_path(std::string_view windows_path) = 0;
};

// Holds `windows_path` (FileSystem::hold) in `held` when it holds exactly
// `contents`; false, with nothing held, otherwise.
bool hold_if_holding(FileSystem& files, std::string_view windows_path, std::string_view contents,
                     std::unique_ptr<File>& held);

// Holds `windows_path` in `held` with exactly `contents`, writing them first
// only when the file holds anything else or is missing. False, with nothing
// held, when they could not be written or the file could not be held with
// them (another program has it open for writing, or changed it between the
// write and the hold).
bool place_and_hold(FileSystem& files, std::string_view windows_path, std::string_view contents,
                    std::unique_ptr<File>& held);

// The folders and file name of a Windows path, as a host maps them: the
// drive dropped, "\\" and "/" both separators, "." and empty names passed
// over, ".." taking back the name before it (never climbing above the root).
std::vector<std::string_view> path_parts(std::string_view windows_path);

// The folder that stands for drive C: on POSIX systems: $KAVCOMANDA_ROOT, or
// $HOME/KavComanda when it is unset.
std::string default_root();

// The operating system's files under `root`; on Windows the root C:\ leaves
// paths as they stand.
std::unique_ptr<FileSystem> make_os_file_system(std::string root);

// Files kept in memory, for tests. Paths compare without regard to case and
// drive; a file can be created only in a folder that exists.
class MemoryFileSystem final : public FileSystem {
 public:
  MemoryFileSystem();  // holds the folders of a laid-out root

  Status open(std::string_view windows_path, OpenMode mode, std::unique_ptr<File>& file) override;
  // As on Windows: while a file is held, opens for writing, removes and
  // renames of it (either name) fail; a file open for writing cannot be held.
  Status hold(std::string_view windows_path, std::unique_ptr<File>& file) override;
  Status remove(std::string_view windows_path) override;
  Status rename(std::string_view from, std::string_view to) override;
  bool exists(std::string_view windows_path) override;
  Status create_directory(std::string_view windows_path) override;
  Status remove_folder(std::string_view windows_path) override;
  std::vector<std::string> list(std::string_view windows_folder, bool folders) override;
  Status sync_directory(std::string_view windows_folder) override;
  std::string host_path(std::string_view windows_path) override { return key(windows_path); }

  // Test access.
  // Leaves a file as another program would write it (not synced).
  void put(std::string_view windows_path, std::string contents);
  // Contents of a file, or an empty string when there is none.
  std::string contents(std::string_view windows_path) const;
  void remove_directory(std::string_view windows_path);
  void set_fail_writes(bool fail) { fail_writes_ = fail; }
  bool is_held(std::string_view windows_path) const { return held_.count(key(windows_path)) > 0; }
  std::size_t file_count() const { return files_.size(); }

  // The normal form of a path: upper case, no drive, backslashes.
  static std::string key(std::string_view windows_path);

  // Power cuts, for the tests that make them. Once switched on, what stands
  // counts as on the disk; from then on each file keeps the contents it had
  // at its last sync besides what was written after, and each folder keeps
  // its entries (names and the files they name) as they were at its last
  // sync. A cut loses everything else: writes not synced, and creations,
  // renames and removals not followed by a sync of their folder.
  void track_power_cuts();
  // The files and folders a power cut at this moment would leave, tracking
  // power cuts in turn. Only after track_power_cuts().
  MemoryFileSystem after_power_cut() const;
  // Called after every operation that changes files or what is on the disk
  // (opens for writing, writes, syncs, removals, renames, new folders,
  // put()), with a short name of the operation and the path.
  std::function<void(std::string_view operation, std::string_view key)> on_change;

 private:
  friend class MemoryFile;
  void changed(std::string_view operation, const std::string& k) {
    if (on_change) on_change(operation, k);
  }
  // A file's contents are new (created, or replaced by put()).
  void new_node(const std::string& k);
  void synced(const std::string& k);

  std::map<std::string, std::string> files_;
  // How many holds and opens for writing each file has.
  std::map<std::string, int> held_, writers_;
  std::set<std::string> dirs_;
  bool fail_writes_ = false;

  // While power cuts are tracked: the file each name stands for, the
  // contents each file had at its last sync, and the folders' entries as
  // they were at their last sync.
  bool tracking_ = false;
  std::uint64_t next_node_ = 0;
  std::map<std::string, std::uint64_t> node_of_;
  std::map<std::uint64_t, std::string> synced_;
  std::map<std::string, std::uint64_t> durable_files_;
  std::set<std::string> durable_dirs_;
};

}  // namespace kav::platform
