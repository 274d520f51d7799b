#include "platform/text_file.h"

#include "platform/status.h"
#include "platform/line_end.h"

namespace kav::platform {

namespace {
constexpr std::size_t kChunk = 64 * 1024;
}

Status TextFile::open(std::string_view path, OpenMode mode) {
  close().ignore();
  buf_.clear();
  read_len_ = pos_ = 0;
  failed_ = false;
  mode_ = mode;
  return fs_.open(path, mode, file_);
}

bool TextFile::flush() {
  if (!file_ || mode_ == OpenMode::input || buf_.empty()) return !failed_;
  if (!file_->write(buf_).ok()) failed_ = true;
  buf_.clear();
  return !failed_;
}

Status TextFile::write_line(std::string_view record) {
  if (!file_ || mode_ == OpenMode::input) return Status::kWriteNotOpen;
  buf_.append(record);
  buf_.append(kLineEnd);
  if (buf_.size() >= kChunk && !flush()) return Status::kFailed;
  return failed_ ? Status::kFailed : Status::kOk;
}

Status TextFile::read_char(char& c) {
  if (!file_ || mode_ != OpenMode::input) return Status::kReadNotOpen;
  if (pos_ == read_len_) {
    if (!read_buf_) read_buf_.reset(new char[kChunk]);  // not zero-filled
    const long n = file_->read(read_buf_.get(), kChunk);
    read_len_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    pos_ = 0;
    if (n < 0) return Status::kFailed;
    if (n == 0) return Status::kAtEnd;
  }
  c = read_buf_[pos_++];
  return Status::kOk;
}

Status TextFile::sync() {
  if (!file_) return Status::kNotOpen;
  if (!flush() || !file_->sync().ok()) return Status::kFailed;
  return Status::kOk;
}

Status TextFile::close() {
  if (!file_) return Status::kNotOpen;
  const bool flushed = flush();
  const bool closed = file_->close().ok();
  file_.reset();
  buf_.clear();
  read_len_ = pos_ = 0;
  return flushed && closed ? Status::kOk : Status::kFailed;
}

}  // namespace kav::platform
