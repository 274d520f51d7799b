// Text files as the forms use them: records written as lines, answers read
// one character at a time, each operation returning a Status.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kav::platform {

class TextFile {
 public:
  explicit TextFile(FileSystem& fs) : fs_(fs) {}
  ~TextFile() { close().ignore(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  Status open(std::string_view windows_path, OpenMode mode);
  // Writes `record` followed by the platform's line end.
  Status write_line(std::string_view record);
  // Reads one byte: ok with the byte in `c`, kAtEnd at the end of the file.
  Status read_char(char& c);
  // Flushes and syncs what was written, so that it survives a crash.
  Status sync();
  Status close();
  bool is_open() const { return file_ != nullptr; }

 private:
  bool flush();

  FileSystem& fs_;
  std::unique_ptr<File> file_;
  OpenMode mode_ = OpenMode::input;
  std::string buf_;  // pending writes
  // Read-ahead: allocated at the first read and kept for the file's life,
  // never filled with zeros before a read fills it.
  std::unique_ptr<char[]> read_buf_;
  std::size_t read_len_ = 0;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace kav::platform
