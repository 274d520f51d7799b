// Runs the command lines that the forms hand to the command interpreter
// ("CMD.EXE /C ..."), returning when the command has ended.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kav::platform {

class FileSystem;

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // `window_mode` 0 runs without a window. Returns the command's result: for
  // a batch file, Status::exited() with the exit status of the program on
  // its last line that ran (0 or a program's own positive status, GNU
  // Wget's included: 4 network failure, 8 an error status from the server),
  // or kRefused (not understood, or could not be started), kOverran (ended
  // by force after the time limit), kSignalled (the program was ended by a
  // signal; Windows: it crashed) or, on Windows, kProgramNotFile (a batch
  // file was not run because kWgetProgramPath is missing or is no regular
  // file: a folder, or a reparse point that would send the run somewhere
  // else). Logs show the result as Status::result_number().
  virtual Status run(std::string_view command_line, int window_mode) = 0;
};

// The program every batch line runs ("\OrbelaTeknovarium\Kav\WGET" on the
// batch folder's drive, C:). On Windows it is looked at before each batch
// file runs; elsewhere KAV\WGET is a link to the system's Wget and is not.
inline constexpr std::string_view kWgetProgramPath = "C:\\OrbelaTeknovarium\\KAV\\WGET.EXE";

// How long one command line may run before it is ended with every process it
// started. GNU Wget retries for hours against a web server that accepts and
// never answers; without a bound the polling would freeze.
inline constexpr std::chrono::milliseconds kCommandTimeLimit{std::chrono::seconds(120)};

// The order exchange's batch file runs several times in every check, five
// seconds apart: a web server that hangs or sends its answer a byte at a time
// costs at most this much per request.
inline constexpr std::chrono::milliseconds kExchangeTimeLimit{std::chrono::seconds(15)};
inline constexpr std::string_view kExchangeBatch = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat";

// GNU Wget's settings, written by the runner into the work folder and named
// to every program it starts by the environment variable WGETRC (in place of
// the user's own settings file): one try only, so a cut transfer is never
// retried or continued with a range request into the next answer; 5 s to
// resolve the host and 5 s to connect; 60 s without a byte read. A trickling
// server is ended by the runner's time limit.
inline constexpr std::string_view kWgetSettingsPath = "C:\\OrbelaTeknovarium\\Temp\\KAVWGET.RC";
std::string wget_settings();  // the file's contents, with the platform's line ends

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
  // Batch files (Windows paths, any case) bounded by the shorter of
  // `time_limit` and `exchange_time_limit`.
  std::vector<std::string> exchange_batches{std::string(kExchangeBatch)};
  std::chrono::milliseconds exchange_time_limit = kExchangeTimeLimit;
};

// The bound of one command line under `options`.
std::chrono::milliseconds time_limit_of(const CommandOptions& options, std::string_view command_line);

// Writes the settings file for GNU Wget unless it already holds exactly
// wget_settings(); false when it could not be written.
bool ensure_wget_settings(FileSystem& files);

// Held while programs that a monitor started may still run, by that
// monitor's runner and, when the monitor has gone, until they have ended.
inline constexpr std::string_view kProgramsLockPath = "C:\\OrbelaTeknovarium\\Temp\\KAVPROGS.LCK";

// Written when a program of a monitor that has gone had to be ended at its
// time limit: the Windows path of the batch file it ran, on one line. What
// the program wrote is then cut short (an answer that GNU Wget left in part).
inline constexpr std::string_view kProgramCutPath = "C:\\OrbelaTeknovarium\\Temp\\KAVPROGS.CUT";

// Waits, at most `limit`, until no program that an earlier monitor on this
// root started still runs (one killed in the middle of an exchange lets GNU
// Wget finish the answer the web application has already handed out). False
// when one still ran at the limit.
bool wait_for_earlier_programs(FileSystem& files, std::chrono::milliseconds limit);

// The command interpreter of the machine.
//
// Windows: the command line runs as it stands (CMD.EXE itself) in
// kCommandWorkFolder, in a job object that ends the whole process tree when
// the time limit is overrun, with WGETRC set as below. CMD.EXE /C ends with
// the status of the batch file's last command. Wget's settings file is held
// (FileSystem::hold) for the length of every run but a DEL, and a batch file
// runs only while kWgetProgramPath is a regular file (kProgramNotFile
// otherwise). The batch file itself is held by whoever wrote it.
//
// Elsewhere a stand-in understands exactly the two forms this system sends,
// "CMD.EXE /C " (any case) followed by
//   - DEL <Windows path> /Q   removes the file; a missing file is no error;
//   - <Windows path of a .BAT file>   reads the file once, whole, checks
//     every line, and then runs its lines in turn (what is written to the
//     file meanwhile changes nothing).
// A batch line is a program (a Windows path, found without regard to case,
// with or without ".EXE") and its arguments, split at blanks, double quotes
// grouping words (and removed). Arguments that are Windows paths ("C:\..." or
// "\..."), whole or after the '=' of an option, become host paths; others
// stay as written, converted from Windows-1252 to UTF-8. Programs run
// directly, never through a shell, in the folder that stands for
// C:\OrbelaTeknovarium\Temp, so relative names such as WGET.TXT land there.
// Standard input is /dev/null. Every program gets WGETRC naming the settings
// file above; a batch file runs only when that file is in place (otherwise
// kRefused, the programs not started). Anything else is refused with a message on
// standard error and kRefused. Each program runs in its own process
// group, which is killed when the program ends or the time limit is overrun.
// When the monitor ends in the middle (killed, crashed), a guard, a shell
// started once beside the monitor, lets the running program's group go on
// until the program's time limit and kills what is left of it then; it holds
// kProgramsLockPath meanwhile. The runner waits for a program without waking
// up meanwhile (a process descriptor where the kernel has them).
std::unique_ptr<CommandRunner> make_command_runner(FileSystem& files, CommandOptions options = {});

}  // namespace kav::platform
