// The command interpreter, GNU Wget and the web application, played in
// memory: the delete command removes the answer file, the batch command
// leaves the next queued answer of the command named in GET_KAVCMD.bat.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/fakes.h"

namespace kav::test {

class FakeWeb {
 public:
  static constexpr const char* kAnswer = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET";
  static constexpr const char* kBatch = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat";

  FakeWeb(platform::MemoryFileSystem& files, FakeCommandRunner& runner) : files_(files) {
    runner.on_run = [this](std::string_view line) { return run(line); };
  }

  // Queues an answer (its exact bytes) for CMD_IMP, CAN_ITE or CMD_FEC.
  void queue(const std::string& command, std::string answer) { queues_[command].push_back(std::move(answer)); }
  // With the server down no answer file appears.
  bool down = false;
  // A page that answers a command with an HTTP error: Wget's status (8)
  // while the count lasts, and no answer file.
  std::map<std::string, int> http_errors;
  // Called with the command before each answer is handed out.
  std::function<void(const std::string&)> on_request;
  // The commands requested, in order.
  std::vector<std::string> requests;

 private:
  platform::Status run(std::string_view line) {
    if (line == "CMD.EXE /C DEL C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET /Q") {
      files_.remove(kAnswer).ignore();  // DEL /Q says nothing of a missing file
      return platform::Status();
    }
    if (line != "CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat") return platform::Status::exited(1);
    const std::string batch = files_.contents(kBatch);
    const auto at = batch.find("?COMANDO=");
    if (at == std::string::npos) return platform::Status::exited(1);
    const std::string command = batch.substr(at + 9, 7);
    requests.push_back(command);
    if (on_request) on_request(command);
    if (down) return platform::Status::exited(4);
    if (auto e = http_errors.find(command); e != http_errors.end() && e->second > 0) {
      --e->second;
      return platform::Status::exited(8);
    }
    auto& q = queues_[command];
    std::string answer = "<0000>";
    if (!q.empty()) {
      answer = std::move(q.front());
      q.pop_front();
    }
    files_.put(kAnswer, std::move(answer));
    return platform::Status();
  }

  platform::MemoryFileSystem& files_;
  std::map<std::string, std::deque<std::string>> queues_;
};

}  // namespace kav::test
