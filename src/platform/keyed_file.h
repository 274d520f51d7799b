// Keyed record files shared with the ERP: fixed-length records read in
// ascending prime-key order, with records that the ERP may hold locked.
//
// Every operation returns a two-character status (platform/file_status.h).
// The files on disk are SQLite databases with a companion lock file; the
// format is described in docs/erp-files.md.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_status.h"

namespace kav::platform {

namespace status {
inline constexpr std::string_view already_open = "41";  // open of a file that is open
inline constexpr std::string_view no_position = "46";   // read next without a valid position
}  // namespace status

class FileSystem;

class KeyedFile {
 public:
  virtual ~KeyedFile() = default;
  // "00" when the file is open for reading; "35" when it does not exist,
  // "39" when it is not a keyed file of this record length (a record of
  // another length anywhere in it included), "41" when it is open already,
  // "37" or "30" for other failures.
  virtual std::string open_input() = 0;
  // Positions at the first record whose prime key is not less than `key`
  // (blank-filled or cut to the key length); "23" when there is none.
  virtual std::string start(std::string_view key) = 0;
  // The next record in ascending key order into `area` (the whole record,
  // exactly the record length): "00". "10" after the last record, "99" when
  // the record is locked by another program (the position does not advance,
  // so the same read returns that record once it is free). "46" without a
  // position, "47" when the file is not open, "30" for a failure of the
  // store. The read continues after the last key read, so records inserted
  // or deleted meanwhile by another program are seen as they stand.
  virtual std::string read_next(std::string& area) = 0;
  // Releases the record locks that this file holds; "00".
  virtual std::string unlock() = 0;
  // "00"; "42" when the file is not open, which changes nothing.
  virtual std::string close() = 0;
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
