// The command interpreter on Windows: the command line runs as it stands,
// inside a job object, so that the whole process tree (CMD.EXE, the batch
// file's programs) ends when the time limit is overrun or the run is over.
#include <windows.h>

#include <string>
#include <utility>

#include "platform/command_runner.h"
#include "platform/file_system.h"

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

class Win32CommandRunner final : public CommandRunner {
 public:
  Win32CommandRunner(FileSystem& files, CommandOptions options) : files_(files), options_(std::move(options)) {}

  int run(std::string_view command_line, int window_mode) override {
    // The line travels blank-filled; CreateProcess wants it without the blanks
    // and in a writable buffer.
    std::string line(command_line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\0')) line.pop_back();
    if (line.empty()) return kCommandRefused;

    // The job ends every process in it when its last handle closes.
    Handle job(CreateJobObjectA(nullptr, nullptr));
    if (!job.valid()) return kCommandRefused;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = window_mode == 0 ? SW_HIDE : static_cast<WORD>(window_mode);

    // Optional output file; standard input is the NUL device then.
    Handle output;
    Handle input;
    BOOL inherit = FALSE;
    if (!options_.output_path.empty()) {
      SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
      output.reset(CreateFileA(files_.host_path(options_.output_path).c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
      input.reset(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
      if (output.valid() && input.valid()) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = input.get();
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
        inherit = TRUE;
      }
    }

    // Started suspended, so that it is in the job before it can start others.
    DWORD flags = CREATE_SUSPENDED;
    if (window_mode == 0) flags |= CREATE_NO_WINDOW;
    PROCESS_INFORMATION info{};
    const std::string work_folder = files_.host_path(kCommandWorkFolder);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, inherit, flags, nullptr, work_folder.c_str(),
                        &startup, &info))
      return kCommandRefused;
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    const bool in_job = AssignProcessToJobObject(job.get(), process.get()) != 0;
    ResumeThread(thread.get());

    const auto limit = options_.time_limit.count();
    const DWORD wait_ms = limit <= 0 ? 0 : limit >= static_cast<long long>(INFINITE) ? INFINITE - 1
                                                                                       : static_cast<DWORD>(limit);
    if (WaitForSingleObject(process.get(), wait_ms) != WAIT_OBJECT_0) {
      if (in_job)
        TerminateJobObject(job.get(), 1);
      else
        TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
      return kCommandOverran;
    }
    // On return the job's handle closes and ends whatever the command left running.
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return kCommandRefused;
    return static_cast<int>(code);
  }

 private:
  FileSystem& files_;
  CommandOptions options_;
};

}  // namespace

std::unique_ptr<CommandRunner> make_command_runner(FileSystem& files, CommandOptions options) {
  return std::make_unique<Win32CommandRunner>(files, std::move(options));
}

}  // namespace kav::platform
