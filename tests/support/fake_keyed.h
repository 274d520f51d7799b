// Keyed files in memory, with records that can be held locked for a number
// of reads and statuses to inject.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/keyed_file.h"
#include "platform/status.h"

namespace kav::test {

struct FakeKeyedStore {
  std::map<std::string, std::string> records;  // key -> whole record
  platform::Status open_status;
  std::map<std::string, int> locked_reads;  // key -> reads that report kLocked before it is free
  std::map<std::string, platform::Status> read_status;  // key -> status its read reports instead
  std::optional<platform::Status> start_status;  // when set, what start reports
  bool is_open = false;
  int opens = 0, closes = 0, unlocks = 0, reads = 0;
};

class FakeKeyedFile final : public platform::KeyedFile {
 public:
  FakeKeyedFile(FakeKeyedStore& store, std::size_t key_length) : store_(store), key_length_(key_length) {}

  platform::Status open_input() override {
    ++store_.opens;
    if (store_.open_status.ok()) store_.is_open = true;
    return store_.open_status;
  }
  platform::Status start(std::string_view key) override {
    if (store_.start_status) return *store_.start_status;
    const auto it = store_.records.lower_bound(std::string(key.substr(0, key_length_)));
    if (it == store_.records.end()) return platform::Status::kNoRecord;
    from_ = it->first;
    inclusive_ = true;
    return platform::Status::kOk;
  }
  platform::Status read_next(std::string& area) override {
    ++store_.reads;
    const auto it = inclusive_ ? store_.records.lower_bound(from_) : store_.records.upper_bound(from_);
    if (it == store_.records.end()) return platform::Status::kAtEnd;
    if (int& n = store_.locked_reads[it->first]; n > 0) {
      --n;
      return platform::Status::kLocked;
    }
    if (const auto st = store_.read_status.find(it->first); st != store_.read_status.end()) return st->second;
    area = it->second;
    from_ = it->first;
    inclusive_ = false;
    return platform::Status::kOk;
  }
  platform::Status unlock() override {
    ++store_.unlocks;
    return platform::Status::kOk;
  }
  platform::Status close() override {
    if (!store_.is_open) return platform::Status::kNotOpen;
    store_.is_open = false;
    ++store_.closes;
    return platform::Status::kOk;
  }

 private:
  FakeKeyedStore& store_;
  std::size_t key_length_;
  std::string from_;
  bool inclusive_ = false;
};

// The stores by file name: "PRODUTO.ORB", "VENDEDO.ORB", "PARAMET.ORB". With
// `none` there are no keyed files at all: no file can be declared, and every
// open fails as for a missing file.
class FakeKeyedFiles final : public platform::KeyedFiles {
 public:
  std::unique_ptr<platform::KeyedFile> file(std::string_view path, std::size_t, std::size_t key_length) override {
    if (none) return nullptr;
    const std::string name(path.substr(path.rfind('\\') + 1));
    return std::make_unique<FakeKeyedFile>(stores[name], key_length);
  }
  bool none = false;
  std::map<std::string, FakeKeyedStore> stores;
};

}  // namespace kav::test
