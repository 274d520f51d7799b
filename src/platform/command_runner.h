// Runs the command lines that the forms hand to the command interpreter
// ("CMD.EXE /C ..."), returning when the command has ended.
#pragma once

#include <string_view>

namespace kav::platform {

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // `window_mode` 0 runs without a window. Returns the command's exit code,
  // or a negative number when it could not be run; callers do not rely on it.
  virtual int run(std::string_view command_line, int window_mode) = 0;
};

}  // namespace kav::platform
