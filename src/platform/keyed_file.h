// Keyed record files shared with the ERP: fixed-length records read in
// ascending prime-key order, with records that the ERP may hold locked.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kav::platform {

class KeyedFile {
 public:
  virtual ~KeyedFile() = default;
  virtual std::string open_input() = 0;
  // Positions at the first record whose prime key is not less than `key`;
  // "23" when there is none.
  virtual std::string start(std::string_view key) = 0;
  // The next record into `area`; "10" at the end, "99" when it is locked
  // (the position does not advance).
  virtual std::string read_next(std::string& area) = 0;
  virtual std::string unlock() = 0;
  virtual std::string close() = 0;
};

class KeyedFiles {
 public:
  virtual ~KeyedFiles() = default;
  virtual std::unique_ptr<KeyedFile> file(std::string_view windows_path, std::size_t record_length,
                                          std::size_t key_length) = 0;
};

}  // namespace kav::platform
