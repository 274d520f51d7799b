#include "platform/text_file.h"

#include "platform/file_status.h"
#include "platform/line_end.h"

namespace kav::platform {

namespace {
constexpr std::size_t kChunk = 64 * 1024;
}

std::string TextFile::open(std::string_view path, OpenMode mode) {
  close();
  buf_.clear();
  read_len_ = pos_ = 0;
  failed_ = false;
  mode_ = mode;
  return fs_.open(path, mode, file_);
}

bool TextFile::flush() {
  if (!file_ || mode_ == OpenMode::input || buf_.empty()) return !failed_;
  if (!file_->write(buf_)) failed_ = true;
  buf_.clear();
  return !failed_;
}

std::string TextFile::write_line(std::string_view record) {
  if (!file_ || mode_ == OpenMode::input) return std::string(status::write_not_open);
  buf_.append(record);
  buf_.append(kLineEnd);
  if (buf_.size() >= kChunk && !flush()) return std::string(status::failed);
  return std::string(failed_ ? status::failed : status::ok);
}

std::string_view TextFile::read_char(char& c) {
  if (!file_ || mode_ != OpenMode::input) return status::read_not_open;
  if (pos_ == read_len_) {
    if (!read_buf_) read_buf_.reset(new char[kChunk]);  // not zero-filled
    const long n = file_->read(read_buf_.get(), kChunk);
    read_len_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    pos_ = 0;
    if (n < 0) return status::failed;
    if (n == 0) return status::at_end;
  }
  c = read_buf_[pos_++];
  return status::ok;
}

std::string TextFile::sync() {
  if (!file_) return std::string(status::not_open);
  if (!flush() || !file_->sync()) return std::string(status::failed);
  return std::string(status::ok);
}

std::string TextFile::close() {
  if (!file_) return std::string(status::not_open);
  const bool flushed = flush();
  const bool closed = file_->close();
  file_.reset();
  buf_.clear();
  read_len_ = pos_ = 0;
  return std::string(flushed && closed ? status::ok : status::failed);
}

}  // namespace kav::platform
