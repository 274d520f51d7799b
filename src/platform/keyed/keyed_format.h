// The on-disk format of the ERP's keyed files (docs/erp-files.md).
//
// A file is an SQLite database with one table,
//   records(key BLOB PRIMARY KEY, data BLOB NOT NULL) WITHOUT ROWID,
// in WAL journal mode; `data` is the whole fixed-length record and `key` its
// leading prime-key bytes. Record locks are advisory byte-range locks on a
// companion file named after the data file with ".lck" added, one byte per
// record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "record/fnv1a.h"

namespace kav::platform::keyed {

inline constexpr std::string_view kCreateTable =
    "CREATE TABLE IF NOT EXISTS records(key BLOB PRIMARY KEY, data BLOB NOT NULL) WITHOUT ROWID";

inline constexpr std::string_view kLockSuffix = ".lck";

// Offset of a record's lock byte: the key's value when the key is six ASCII
// digits, otherwise 1,000,000 + the FNV-1a 32-bit hash of the key bytes.
std::uint64_t lock_offset(std::string_view key);

using record::fnv1a32;

// A host file name as SQLite takes it (UTF-8).
std::string database_name(std::string_view host_path);

// Advisory record locks on a lock file, one byte per record. The locks belong
// to this object (an open file description where the system has them), so
// two objects of one process see each other's locks, as two programs do.
class LockFile {
 public:
  LockFile() = default;
  ~LockFile() { close(); }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Opens the lock file, creating it when it is missing and can be created.
  bool open(std::string_view host_path);
  bool is_open() const;
  void close();

  // A shared lock on one byte, without waiting: false when another holder has
  // it locked for writing (or on an error).
  bool try_shared(std::uint64_t offset);
  // An exclusive lock on one byte: at once (`wait` false) or when it is free.
  bool lock_exclusive(std::uint64_t offset, bool wait);
  void release(std::uint64_t offset);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // nullptr while closed
#else
  int fd_ = -1;
#endif
};

// Sleeps for about `ms` milliseconds.
void sleep_ms(int ms);

}  // namespace kav::platform::keyed
