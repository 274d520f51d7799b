// The command interpreter on Windows: the command line runs as it stands,
// inside a job object, so that the whole process tree (CMD.EXE, the batch
// file's programs) ends when the time limit is overrun or the run is over.
// A monitor that ends in the middle (killed, crashed) leaves the tree to
// end by itself (GNU Wget within its own time limits), so that an answer the
// web application has already handed out is written whole; every process of
// the tree holds an inherited handle of the programs' lock file until it
// ends, which the next monitor waits for.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/answer_bound.h"
#include "platform/command/command_line.h"
#include "platform/command/system_interpreter.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "record/letter_case.h"

namespace kav::platform {

namespace {

// Closes a handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void reset(HANDLE h = nullptr) {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = h;
  }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// The monitor's environment as a block for CreateProcess, with WGETRC naming
// `settings` instead of any the user has. The entries stay sorted by name
// without regard to case, as Windows keeps them.
std::string environment_block(const std::string& settings) {
  std::vector<std::string> entries;
  if (char* block = GetEnvironmentStringsA(); block != nullptr) {
    for (const char* e = block; *e != '\0'; e += std::char_traits<char>::length(e) + 1) {
      const std::string entry(e);
      if (record::upper(entry.substr(0, 7)) != "WGETRC=") entries.push_back(entry);
    }
    FreeEnvironmentStringsA(block);
  }
  entries.push_back("WGETRC=" + settings);
  const auto name = [](const std::string& entry) {
    return record::upper(entry.substr(0, entry.find('=', 1)));  // "=C:=C:\..." keeps its leading '='
  };
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const std::string& a, const std::string& b) { return name(a) < name(b); });
  std::string out;
  for (const std::string& e : entries) (out += e) += '\0';
  out += '\0';
  return out;
}

// Why a command was refused, on the standard error (a console or a test's
// report; nowhere for the windowed monitor).
void complain(std::string_view what, std::string_view detail) {
  std::string text = "kav command: " + std::string(what) + ": " + std::string(detail) + "\n";
  DWORD written = 0;
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE)
    WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Whether `windows_path` names a regular file: no folder, no reparse point
// (a link or junction that would send the run elsewhere), and no reparse
// point among the folders above it up to the root (C:\ or a test's root).
bool is_plain_file_below(FileSystem& files, std::string_view windows_path) {
  const std::vector<std::string_view> parts = path_parts(windows_path);
  std::string partial = "C:";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    (partial += '\\') += parts[i];
    const DWORD attributes = GetFileAttributesA(files.host_path(partial).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder != (i + 1 < parts.size())) return false;
  }
  return !parts.empty();
}

// Whether a failed CreateProcess may succeed when tried again.
bool start_failed_for_a_moment(DWORD error) {
  switch (error) {
    case ERROR_INTERNAL_ERROR:  // Wine: the new process ended before it was set up
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_COMMITMENT_LIMIT:
      return true;
    default:
      return false;
  }
}

// Whether the line starts "CMD.EXE /C " (any case): the interpreter's own
// name, then its switch.
bool is_interpreter_line(std::string_view line) {
  constexpr std::string_view kStart = "CMD.EXE /C ";
  return line.size() > kStart.size() && record::upper(std::string(line.substr(0, kStart.size()))) == kStart;
}

// The standard handles of a program whose output goes to a file: the file
// for its output and errors, the NUL device for its input.
struct Redirection {
  Handle output;
  Handle input;
};

// Ends the program and whatever it started, and waits a moment for it.
void end_tree(const Handle& job, const Handle& process, bool in_job) {
  if (in_job)
    TerminateJobObject(job.get(), 1);
  else
    TerminateProcess(process.get(), 1);
  WaitForSingleObject(process.get(), 5000);
}

// Whether the file at host path `answer` has grown past an answer's bound.
bool past_answer_bound(const std::string& answer) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return GetFileAttributesExA(answer.c_str(), GetFileExInfoStandard, &data) &&
         ((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > kMaxAnswerBytes;
}

class Win32CommandRunner final : public CommandRunner {
 public:
  Win32CommandRunner(FileSystem& files, CommandOptions options) : files_(files), options_(std::move(options)) {}

  Status run(std::string_view command_line, int window_mode) override {
    // The line travels blank-filled; CreateProcess wants it without the blanks
    // and in a writable buffer.
    std::string line(command_line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\0')) line.pop_back();
    if (line.empty()) return Status::kRefused;
    // Only CMD.EXE runs, and only the system's: named by its full path as
    // the program to start, never searched for (a search would look in the
    // program's folder and the current folder before System32).
    const std::string interpreter = system_command_interpreter();
    if (interpreter.empty() || !is_interpreter_line(line)) {
      complain("only \"CMD.EXE /C ...\" runs", line);
      return Status::kRefused;
    }
    std::unique_ptr<File> settings_held;
    if (const Status ready = prepare_programs(line, settings_held); !ready.ok()) return ready;
    std::string environment = environment_block(files_.host_path(kWgetSettingsPath));

    Handle job(CreateJobObjectA(nullptr, nullptr));
    if (!job.valid()) {
      complain("no job object (error " + std::to_string(GetLastError()) + ")", line);
      return Status::kRefused;
    }
    hold_programs_lock();
    Redirection redirection;
    PROCESS_INFORMATION info{};
    if (!start(interpreter, line, environment, window_mode, redirection, info)) return Status::kRefused;
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    const bool in_job = AssignProcessToJobObject(job.get(), process.get()) != 0;
    ResumeThread(thread.get());
    return wait_for(command_line, job, process, in_job);
  }

 private:
  // Without its settings GNU Wget would retry into the next answer and
  // wait minutes for a silent server: no batch file runs then (a DEL still
  // does, so that an old answer never stays to be read again). They are
  // held, unchanged, in `settings_held` until the run has ended: the work
  // folder is writable by every user, and settings of someone else's (an
  // output document, a file to post) would run with the monitor's rights.
  // A batch file runs only with Wget a regular file.
  Status prepare_programs(const std::string& line, std::unique_ptr<File>& settings_held) {
    const command::Request::Kind kind = command::parse_command_line(line).kind;
    if (kind != command::Request::Kind::remove &&
        (!ensure_wget_settings(files_) ||
         !hold_if_holding(files_, kWgetSettingsPath, wget_settings(), settings_held))) {
      complain("Wget's settings could not be written or held", files_.host_path(kWgetSettingsPath));
      return Status::kRefused;
    }
    if (kind == command::Request::Kind::batch && !is_plain_file_below(files_, kWgetProgramPath)) {
      complain("no regular file", files_.host_path(kWgetProgramPath));
      return Status::kProgramNotFile;
    }
    return Status::kOk;
  }

  // Held open, and handed down, for as long as any program of ours runs.
  void hold_programs_lock() {
    if (programs_lock_.valid()) return;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    programs_lock_.reset(CreateFileA(files_.host_path(kProgramsLockPath).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  // The optional output file; standard input is the NUL device then. The
  // handles stay in `redirection` while the program starts.
  void redirect(STARTUPINFOA& startup, Redirection& redirection) const {
    if (options_.output_path.empty()) return;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    redirection.output.reset(CreateFileA(files_.host_path(options_.output_path).c_str(), FILE_APPEND_DATA,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    redirection.input.reset(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (redirection.output.valid() && redirection.input.valid()) {
      startup.dwFlags |= STARTF_USESTDHANDLES;
      startup.hStdInput = redirection.input.get();
      startup.hStdOutput = redirection.output.get();
      startup.hStdError = redirection.output.get();
    }
  }

  // Starts the interpreter on `line`, suspended, so that it is in the job
  // before it can start others; false (said on the standard error) when it
  // could not be started.
  bool start(const std::string& interpreter, std::string& line, std::string& environment, int window_mode,
             Redirection& redirection, PROCESS_INFORMATION& info) const {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = window_mode == 0 ? SW_HIDE : static_cast<WORD>(window_mode);
    redirect(startup, redirection);
    DWORD flags = CREATE_SUSPENDED;
    if (window_mode == 0) flags |= CREATE_NO_WINDOW;
    const BOOL inherit = TRUE;
    const std::string work_folder = files_.host_path(kCommandWorkFolder);
    // A start can fail for a moment, before anything of the command has
    // run: Wine reports a new process that died while it set itself up as
    // an internal error (seen about once in a few thousand starts on a busy
    // machine), Windows a program file a scanner holds or resources that
    // ran short. It is tried again, for well under a second.
    for (DWORD pause = 50;; pause *= 2) {
      if (CreateProcessA(interpreter.c_str(), line.data(), nullptr, nullptr, inherit, flags, environment.data(),
                         work_folder.c_str(), &startup, &info))
        return true;
      const DWORD error = GetLastError();
      if (!start_failed_for_a_moment(error) || pause > 200) {
        complain("CMD.EXE could not be started (error " + std::to_string(error) + ")", line);
        return false;
      }
      complain("CMD.EXE did not start (error " + std::to_string(error) + "), trying again", line);
      Sleep(pause);
    }
  }

  // Waits for the program to end within the command's time limit, and
  // what its end means.
  Status wait_for(std::string_view command_line, const Handle& job, const Handle& process, bool in_job) {
    const auto limit = time_limit_of(options_, command_line).count();
    const DWORD wait_ms = limit <= 0 ? 0 : limit >= static_cast<long long>(INFINITE) ? INFINITE - 1
                                                                                       : static_cast<DWORD>(limit);
    // While an exchange runs, its answer is watched: GNU Wget on a page that
    // never ends is stopped once the answer passes its bound (Windows has no
    // limit on a process's file size, and Wget's --quota never stops a
    // single download). Checked every 20 ms: at loopback speed a few MB
    // more may land before it is stopped, never gigabytes.
    const bool watched = limit > 0 && time_limit_of(options_, command_line) != options_.time_limit;
    const std::string answer = files_.host_path(kWatchedAnswerPath);
    const ULONGLONG started = GetTickCount64();
    DWORD waited = WAIT_TIMEOUT;
    for (;;) {
      const ULONGLONG elapsed = GetTickCount64() - started;
      const DWORD left = wait_ms == INFINITE - 1 || elapsed < wait_ms ? static_cast<DWORD>(wait_ms - elapsed) : 0;
      waited = WaitForSingleObject(process.get(), watched ? std::min<DWORD>(left, 20) : left);
      if (waited == WAIT_OBJECT_0 || left == 0 || !watched) break;
      if (past_answer_bound(answer)) {
        end_tree(job, process, in_job);
        return Status::kSignalled;
      }
    }
    if (waited != WAIT_OBJECT_0) {
      end_tree(job, process, in_job);
      return Status::kOverran;
    }
    // Whatever the command left running ends with it.
    if (in_job) TerminateJobObject(job.get(), 1);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return Status::kRefused;
    // A crash ends a process with an exception code (0xC0000005 ...), which
    // is no program's own status.
    if (code >= 0x80000000u) return Status::kSignalled;
    return Status::exited(static_cast<int>(code));
  }

  FileSystem& files_;
  CommandOptions options_;
  Handle programs_lock_;
};

}  // namespace

std::string system_command_interpreter() {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const std::wstring wide = std::wstring(folder, n) + L"\\cmd.exe";
  // CreateProcessA takes the ANSI code page; a system folder it cannot
  // name exactly is not guessed at.
  BOOL lossy = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, &lossy);
  if (size <= 0 || lossy) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()), out.data(), size,
                      nullptr, &lossy);
  return lossy ? std::string() : out;
}

bool wait_for_earlier_programs(FileSystem& files, std::chrono::milliseconds limit) {
  const std::string path = files.host_path(kProgramsLockPath);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    // Opened without sharing only when no process has it open any more.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return true;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return true;  // nothing anyone could hold
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(20);
  }
}

std::unique_ptr<CommandRunner> make_command_runner(FileSystem& files, CommandOptions options) {
  return std::make_unique<Win32CommandRunner>(files, std::move(options));
}

}  // namespace kav::platform
