// Fakes of the platform services, shared by the form tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/line_end.h"
#include "platform/platform.h"
#include "printing/print_service.h"
#include "record/area.h"

namespace kav::test {

// Records every command line; `on_run` may act like the command would (for
// example leave an answer file in a MemoryFileSystem).
class FakeCommandRunner final : public platform::CommandRunner {
 public:
  platform::Status run(std::string_view command_line, int window_mode) override {
    lines.emplace_back(command_line);
    modes.push_back(window_mode);
    return on_run ? on_run(command_line) : platform::Status();
  }
  std::vector<std::string> lines;
  std::vector<int> modes;
  std::function<platform::Status(std::string_view)> on_run;
};

// Records every print job: its print form, the printer information file's
// path and, once told which file system to read it from, its bytes at open;
// and each group with the whole print record as it was written.
class FakePrintService final : public platform::PrintService {
 public:
  struct Write {
    std::string group;
    std::string record;
    std::string field(record::Field f) const { return record.substr(f.pos - 1, f.width); }
  };
  struct Job {
    std::string form;
    std::string info_path;
    std::string formprt;  // the printer information file as it stood at open
    std::vector<Write> writes;
    bool closed = false;

    // The groups written, without the blanks after their names.
    std::vector<std::string> groups() const {
      std::vector<std::string> g;
      for (const auto& w : writes) g.emplace_back(record::trim_right(w.group));
      return g;
    }
    // The PRTDRV line of the printer information file without its blanks to 80.
    std::string prtdrv() const {
      const auto at = formprt.find("PRTDRV");
      if (at == std::string::npos) return {};
      return std::string(record::trim_right(formprt.substr(at, formprt.find(platform::kLineEnd, at) - at)));
    }
  };

  FakePrintService() = default;
  explicit FakePrintService(platform::Clock* clock) : clock_(clock) {}

  // The file system that the printer information files are read from.
  void read_info_from(platform::FileSystem* files) { files_ = files; }
  // The clock that work stamps follow (without one they start in 1970).
  void stamp_by(platform::Clock* clock) { clock_ = clock; }

  void start(const std::vector<std::string>& pending_work) override {
    for (const auto& id : pending_work) stamps_.note(id);
  }
  std::string new_work_id() override { return stamps_.next(clock_ != nullptr ? platform::stamp_now(*clock_) : ""); }
  void begin_work(std::string_view work_id) override { stamps_.note(work_id); }

  platform::Status open(std::string_view form, std::string_view info_path) override {
    jobs.push_back({std::string(form), std::string(info_path), read_info(info_path), {}, false});
    return platform::Status::kOk;
  }
  platform::Status write(std::string_view group, std::string_view record) override {
    if (jobs.empty() || jobs.back().closed) return platform::Status::kWriteNotOpen;
    jobs.back().writes.push_back({std::string(group), std::string(record)});
    return platform::Status::kOk;
  }
  platform::Status close() override {
    if (jobs.empty() || jobs.back().closed) return platform::Status::kNotOpen;
    jobs.back().closed = true;
    return platform::Status::kOk;
  }
  void finish() override {
    if (on_finish) on_finish();
  }
  std::vector<Job> jobs;
  std::function<void()> on_finish;  // what the way out still reports, say

 private:
  std::string read_info(std::string_view path) const {
    std::string bytes;
    std::unique_ptr<platform::File> file;
    if (files_ == nullptr || files_->open(path, platform::OpenMode::input, file) != platform::Status::kOk) return bytes;
    char buf[512];
    for (long n; (n = file->read(buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<std::size_t>(n));
    file->close().ignore();  // read only
    return bytes;
  }

  platform::FileSystem* files_ = nullptr;
  platform::Clock* clock_ = nullptr;
  platform::StampSequence stamps_;
};

// No keyed files at all: every open fails as a missing file would.
class NoKeyedFiles final : public platform::KeyedFiles {
 public:
  std::unique_ptr<platform::KeyedFile> file(std::string_view, std::size_t, std::size_t) override { return nullptr; }
};

}  // namespace kav::test
