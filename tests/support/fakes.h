// Fakes of the platform services, shared by the form tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_status.h"
#include "platform/platform.h"

namespace kav::test {

// Records every command line; `on_run` may act like the command would (for
// example leave an answer file in a MemoryFileSystem).
class FakeCommandRunner final : public platform::CommandRunner {
 public:
  int run(std::string_view command_line, int window_mode) override {
    lines.emplace_back(command_line);
    modes.push_back(window_mode);
    return on_run ? on_run(command_line) : 0;
  }
  std::vector<std::string> lines;
  std::vector<int> modes;
  std::function<int(std::string_view)> on_run;
};

// Records every print job: the printer information file's bytes at open, and
// each group with the whole print record as it was written.
class FakePrintService final : public platform::PrintService {
 public:
  struct Write {
    std::string group;
    std::string record;
  };
  struct Job {
    std::string form;
    std::string info_path;
    std::vector<Write> writes;
    bool closed = false;
  };

  std::string open(std::string_view form, std::string_view info_path) override {
    jobs.push_back({std::string(form), std::string(info_path), {}, false});
    return std::string(platform::status::ok);
  }
  std::string write(std::string_view group, std::string_view record) override {
    if (jobs.empty() || jobs.back().closed) return std::string(platform::status::write_not_open);
    jobs.back().writes.push_back({std::string(group), std::string(record)});
    return std::string(platform::status::ok);
  }
  std::string close() override {
    if (jobs.empty() || jobs.back().closed) return std::string(platform::status::not_open);
    jobs.back().closed = true;
    return std::string(platform::status::ok);
  }
  std::vector<Job> jobs;
};

// No keyed files at all: every open fails as a missing file would.
class NoKeyedFiles final : public platform::KeyedFiles {
 public:
  std::unique_ptr<platform::KeyedFile> file(std::string_view, std::size_t, std::size_t) override { return nullptr; }
};

}  // namespace kav::test
