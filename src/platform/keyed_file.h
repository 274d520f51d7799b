// Keyed record files shared with the ERP: fixed-length records read in
// ascending prime-key order, with records that the ERP may hold locked.
//
// Every operation returns a Status (platform/status.h).
// The files on disk are SQLite databases with a companion lock file; the
// format is described in docs/erp-files.md.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace kav::platform {

class FileSystem;

class KeyedFile {
 public:
  virtual ~KeyedFile() = default;
  // ok when the file is open for reading; kNotFound when it does not exist,
  // kBadFile when it is not a keyed file of this record length (a record of
  // another length anywhere in it included), kAlreadyOpen when it is open
  // already, kDenied or kFailed for other failures.
  virtual Status open_input() = 0;
  // Positions at the first record whose prime key is not less than `key`
  // (blank-filled or cut to the key length); kNoRecord when there is none.
  virtual Status start(std::string_view key) = 0;
  // The next record in ascending key order into `area` (the whole record,
  // exactly the record length): ok. kAtEnd after the last record, kLocked
  // when the record is locked by another program (the position does not
  // advance, so the same read returns that record once it is free).
  // kNoPosition without a position, kReadNotOpen when the file is not open,
  // kFailed for a failure of the store. The read continues after the last key read, so records inserted
  // or deleted meanwhile by another program are seen as they stand.
  virtual Status read_next(std::string& area) = 0;
  // Releases the record locks that this file holds; ok.
  virtual Status unlock() = 0;
  // ok; kNotOpen when the file is not open, which changes nothing.
  virtual Status close() = 0;
};

class KeyedFiles {
 public:
  virtual ~KeyedFiles() = default;
  // A file that is declared but not yet open. `key_length` is the length of
  // the prime key at the start of each record.
  virtual std::unique_ptr<KeyedFile> file(std::string_view windows_path, std::size_t record_length,
                                          std::size_t key_length) = 0;
};

// The keyed files on disk, named by Windows paths through `files`.
std::unique_ptr<KeyedFiles> make_keyed_files(FileSystem& files);

}  // namespace kav::platform
