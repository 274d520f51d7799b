// Runs the command lines that the forms hand to the command interpreter
// ("CMD.EXE /C ..."), returning when the command has ended.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace kav::platform {

class FileSystem;

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // `window_mode` 0 runs without a window. Returns the command's exit code,
  // or a negative number when it could not be run; callers do not rely on it.
  virtual int run(std::string_view command_line, int window_mode) = 0;
};

// Results of run() besides a program's own exit code.
inline constexpr int kCommandRefused = -1;   // not understood, or could not be started
inline constexpr int kCommandOverran = -2;   // ended by force after the time limit
inline constexpr int kCommandSignalled = -3; // the program was ended by a signal

// How long one command line may run before it is ended with every process it
// started. GNU Wget retries for hours against a web server that accepts and
// never answers; without a bound the polling would freeze.
inline constexpr std::chrono::milliseconds kCommandTimeLimit{std::chrono::seconds(120)};

// The folder every command runs in, on every system: the batch files' own
// folder. Relative names a program writes (Wget's WGET.TXT) land there, and
// paths without a drive ("\OrbelaTeknovarium\Kav\WGET") are found on drive
// C:, wherever the program itself was started from.
inline constexpr std::string_view kCommandWorkFolder = "C:\\OrbelaTeknovarium\\Temp";

struct CommandOptions {
  // Bound on one run() call, the whole batch file included.
  std::chrono::milliseconds time_limit = kCommandTimeLimit;
  // Windows path of a file that collects what the programs write to their
  // standard output and error (appended). Empty: the output is discarded.
  std::string output_path;
};

// The command interpreter of the machine.
//
// Windows: the command line runs as it stands (CMD.EXE itself) in
// kCommandWorkFolder, in a job object that ends the whole process tree when
// the time limit is overrun.
//
// Elsewhere a stand-in understands exactly the two forms this system sends,
// "CMD.EXE /C " (any case) followed by
//   - DEL <Windows path> /Q   removes the file; a missing file is no error;
//   - <Windows path of a .BAT file>   runs its lines in turn.
// A batch line is a program (a Windows path, found without regard to case,
// with or without ".EXE") and its arguments, split at blanks, double quotes
// grouping words (and removed). Arguments that are Windows paths ("C:\..." or
// "\..."), whole or after the '=' of an option, become host paths; others
// stay as written, converted from Windows-1252 to UTF-8. Programs run
// directly, never through a shell, in the folder that stands for
// C:\OrbelaTeknovarium\Temp, so relative names such as WGET.TXT land there.
// Standard input is /dev/null. Anything else is refused with a message on
// standard error and kCommandRefused. Each program runs in its own process
// group, which is killed when the time limit is overrun.
std::unique_ptr<CommandRunner> make_command_runner(FileSystem& files, CommandOptions options = {});

}  // namespace kav::platform
