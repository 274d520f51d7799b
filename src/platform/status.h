// What an operation of the platform reports: one small value, ok or the
// reason it failed, which callers decide on by its code.
//
// Files report the conditions below; the forms' two-character file status
// ("00", "35", "99") is only how a code is shown and logged: file_status().
// A command reports the program's exit code when it ran (ok for 0), or why
// it did not run to its end; result_number() is how logs show it. A message
// goes with a refusal where the reason is worth telling.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace kav::platform {

class [[nodiscard]] Status {
 public:
  enum Code : unsigned char {
    kOk,
    // Files and keyed files.
    kAtEnd,         // read past the last record
    kNoRecord,      // a start, or a print group, found no record
    kFailed,        // permanent I/O error
    kNotFound,      // open of a missing file
    kDenied,        // open not allowed (held by another program)
    kBadFile,       // a file of another layout; a print form the service does not know
    kAlreadyOpen,   // open of a file that is open
    kNotOpen,       // close of a file not open
    kNoPosition,    // read next without a valid position
    kReadNotOpen,   // read of a file not open for input
    kWriteNotOpen,  // write to a file not open for output
    kLocked,        // record locked by another program
    // Commands.
    kExited,          // the program ran and ended with a nonzero exit code
    kRefused,         // not understood, or could not be started; a setting refused
    kOverran,         // ended by force after the time limit
    kSignalled,       // the program was ended by a signal (Windows: it crashed)
    kProgramNotFile,  // Windows: the program of a batch file is missing or no regular file
  };

  Status() = default;  // ok
  Status(Code code) : code_(code) {}  // NOLINT: a code is a status
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  // A command that ran to its end: ok for exit code 0.
  static Status exited(int exit_code) {
    Status s(exit_code == 0 ? kOk : kExited);
    s.exit_code_ = exit_code;
    return s;
  }

  // ok when `done`, kFailed otherwise.
  static Status ok_or_failed(bool done) { return done ? Status() : Status(kFailed); }

  bool ok() const { return code_ == kOk; }
  Code code() const { return code_; }
  bool operator==(Code code) const { return code_ == code; }
  const std::string& message() const { return message_; }
  // The program's exit code when it ran to its end (0 when ok).
  int exit_code() const { return exit_code_; }

  // The two-character file status shown and logged for this code ("30" for
  // a command's results, which have none).
  std::string_view file_status() const {
    switch (code_) {
      case kOk: return "00";
      case kAtEnd: return "10";
      case kNoRecord: return "23";
      case kNotFound: return "35";
      case kDenied: return "37";
      case kBadFile: return "39";
      case kAlreadyOpen: return "41";
      case kNotOpen: return "42";
      case kNoPosition: return "46";
      case kReadNotOpen: return "47";
      case kWriteNotOpen: return "48";
      case kLocked: return "99";
      default: return "30";
    }
  }
  // A command's result as logs show it: the exit code, or -1 refused, -2
  // overran, -3 signalled, -4 program not a file.
  int result_number() const {
    switch (code_) {
      case kRefused: return -1;
      case kOverran: return -2;
      case kSignalled: return -3;
      case kProgramNotFile: return -4;
      default: return exit_code_;
    }
  }

  // Says in code that the caller does not examine this result, on purpose.
  void ignore() const {}

 private:
  Code code_ = kOk;
  int exit_code_ = 0;
  std::string message_;
};

}  // namespace kav::platform
