// The writing side of the keyed files, as the ERP (or a program standing in
// for it) changes them: create a file, add, replace and delete records, list
// them. The system itself only reads (platform/keyed_file.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>

struct sqlite3;

namespace kav::platform::keyed {

class KeyedWriter {
 public:
  KeyedWriter() = default;
  ~KeyedWriter() { close(); }
  KeyedWriter(const KeyedWriter&) = delete;
  KeyedWriter& operator=(const KeyedWriter&) = delete;

  // Opens a file for writing; with `create`, a missing file is created with
  // the table of the format, in WAL journal mode. Returns an empty text on
  // success, else what went wrong.
  std::string open(std::string_view host_path, bool create);
  void close();

  // One transaction around many changes (much faster than one each).
  bool begin();
  bool commit();
  // Adds the record, or replaces the record of the same key.
  bool put(std::string_view key, std::string_view record);
  // Deletes the record of `key`; true also when there was none.
  bool erase(std::string_view key);
  // Every record in ascending key order; `each` returns false to stop.
  bool for_each(const std::function<bool(std::string_view key, std::string_view record)>& each);

  std::string error() const;

 private:
  bool exec(std::string_view sql);
  sqlite3* db_ = nullptr;
};

}  // namespace kav::platform::keyed
