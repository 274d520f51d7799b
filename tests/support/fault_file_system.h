// A file system that fails what a test tells it to, over any other one.
//
// Wraps a real or in-memory file system and passes every call through, except
// the ones armed to fail: the n-th open for output, hold, write, sync, rename,
// remove or folder creation on a path that contains a given text, once or
// from then on. A free-space budget stands for a full disk: a write that does
// not fit writes what fits and fails, as the operating system does.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/file_system.h"

namespace kav::test {

class FaultFileSystem final : public platform::FileSystem {
 public:
  enum class Op { open_output, write, sync, rename, remove, create_directory, hold };
  static constexpr int kForever = 0;

  explicit FaultFileSystem(platform::FileSystem& base) : base_(base) {}

  // Fails operation `op` on a path containing `path_part` (case ignored; empty
  // matches any path) after `skip` matching calls succeeded, `times` times
  // (kForever: every later matching call).
  void fail(Op op, std::string path_part = {}, int skip = 0, int times = 1) {
    rules_.push_back({op, upper(path_part), skip, times});
  }
  // At most `bytes` more can be written in all; nullopt: no limit.
  void set_free_space(std::optional<std::size_t> bytes) { free_ = bytes; }
  void clear() {
    rules_.clear();
    free_.reset();
  }
  // How many calls of `op` failed because of a rule or the free space.
  int failures(Op op) const { return failed_[static_cast<std::size_t>(op)]; }

  platform::Status open(std::string_view path, platform::OpenMode mode, std::unique_ptr<platform::File>& file) override {
    if (mode != platform::OpenMode::input && (trip(Op::open_output, path) || free_ == std::size_t{0})) {
      if (free_ == std::size_t{0}) ++failed_[static_cast<std::size_t>(Op::open_output)];
      file.reset();
      return platform::Status::kFailed;
    }
    std::unique_ptr<platform::File> inner;
    const platform::Status st = base_.open(path, mode, inner);
    file = inner ? std::make_unique<FaultFile>(*this, std::string(path), std::move(inner)) : nullptr;
    return st;
  }
  platform::Status hold(std::string_view path, std::unique_ptr<platform::File>& file) override {
    file.reset();
    if (trip(Op::hold, path)) return platform::Status::kDenied;
    return base_.hold(path, file);
  }
  platform::Status remove(std::string_view path) override {
    if (trip(Op::remove, path)) return platform::Status::kFailed;
    return base_.remove(path);
  }
  platform::Status rename(std::string_view from, std::string_view to) override {
    if (trip(Op::rename, from) || trip(Op::rename, to)) return platform::Status::kFailed;
    return base_.rename(from, to);
  }
  bool exists(std::string_view path) override { return base_.exists(path); }
  platform::Status remove_folder(std::string_view path) override {
    if (trip(Op::remove, path)) return platform::Status::kFailed;
    return base_.remove_folder(path);
  }
  platform::Status create_directory(std::string_view path) override {
    if (trip(Op::create_directory, path)) return platform::Status::kFailed;
    return base_.create_directory(path);
  }
  std::string host_path(std::string_view path) override { return base_.host_path(path); }
  std::vector<std::string> list(std::string_view folder, bool folders) override { return base_.list(folder, folders); }
  platform::Status sync_directory(std::string_view folder) override {
    if (trip(Op::sync, folder)) return platform::Status::kFailed;
    return base_.sync_directory(folder);
  }

 private:
  struct Rule {
    Op op;
    std::string path_part;
    int skip;
    int times;
  };

  class FaultFile final : public platform::File {
   public:
    FaultFile(FaultFileSystem& fs, std::string path, std::unique_ptr<platform::File> inner)
        : fs_(fs), path_(std::move(path)), inner_(std::move(inner)) {}
    platform::Status write(std::string_view bytes) override {
      if (fs_.trip(Op::write, path_)) return platform::Status::kFailed;
      if (fs_.free_ && bytes.size() > *fs_.free_) {
        const std::size_t fits = *fs_.free_;
        if (fits > 0) inner_->write(bytes.substr(0, fits)).ignore();
        fs_.free_ = 0;
        ++fs_.failed_[static_cast<std::size_t>(Op::write)];
        return platform::Status(platform::Status::kFailed, "disk full");
      }
      if (fs_.free_) *fs_.free_ -= bytes.size();
      return inner_->write(bytes);
    }
    long read(char* buf, std::size_t n) override { return inner_->read(buf, n); }
    platform::Status sync() override {
      if (fs_.trip(Op::sync, path_)) return platform::Status::kFailed;
      return inner_->sync();
    }
    platform::Status close() override { return inner_->close(); }

   private:
    FaultFileSystem& fs_;
    std::string path_;
    std::unique_ptr<platform::File> inner_;
  };

  static std::string upper(std::string_view s) {
    std::string u(s);
    std::transform(u.begin(), u.end(), u.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return u;
  }

  // True when a rule makes this call fail; counts the call against the rules.
  bool trip(Op op, std::string_view path) {
    const std::string p = upper(path);
    for (auto& r : rules_) {
      if (r.op != op || p.find(r.path_part) == std::string::npos) continue;
      if (r.skip > 0) {
        --r.skip;
        continue;
      }
      if (r.times < 0) continue;  // used up
      if (r.times > 0 && --r.times == 0) r.times = -1;
      ++failed_[static_cast<std::size_t>(op)];
      return true;
    }
    return false;
  }

  platform::FileSystem& base_;
  std::vector<Rule> rules_;
  std::optional<std::size_t> free_;
  std::array<int, 7> failed_{};
};

}  // namespace kav::test
