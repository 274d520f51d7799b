// Reading the command lines and batch files that the system hands to the
// command interpreter. Only what the system sends is understood:
//
//   CMD.EXE /C DEL <path> /Q
//   CMD.EXE /C <path of a .BAT file>
//
// and batch lines of the form  <program path> <argument> ...
//
// Words are split at blanks and tabs; a double quote starts or ends a quoted
// stretch in which blanks belong to the word, and the quotes themselves are
// removed. Outside quotes the interpreter's operators & | < > ^ would start
// something else, so a line holding them is refused rather than guessed at.
// In batch files "%%" stands for "%"; any other '%' would be a variable and
// is refused. All texts are Windows-1252 bytes.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kav::platform::command {

struct Request {
  enum class Kind { remove, batch, refused };
  Kind kind = Kind::refused;
  std::string path;    // Windows path of the file to delete or the batch file
  std::string reason;  // why the line was refused
};

// Reads a command line; trailing blanks (the line travels blank-filled)
// are ignored.
Request parse_command_line(std::string_view command_line);

// Splits a line into words. `in_batch` turns "%%" into "%". Returns false
// and sets `error` when the line holds what the stand-in does not run.
bool split_words(std::string_view line, bool in_batch, std::vector<std::string>& words, std::string& error);

// The lines of a batch file with their line ends and trailing blanks
// removed; blank lines are left out.
std::vector<std::string> batch_lines(std::string_view contents);

// "C:\..." or "\...".
bool is_windows_path(std::string_view text);

// An argument as the program receives it: a Windows path, standing alone or
// after the '=' of an option ("--output-document=C:\..."), becomes the host
// path that `host_path` gives; everything else is converted to UTF-8.
std::string map_argument(std::string_view argument, const std::function<std::string(std::string_view)>& host_path);

// ASCII comparison without regard to case.
bool equals_ignoring_case(std::string_view a, std::string_view b);
bool ends_with_ignoring_case(std::string_view text, std::string_view end);

}  // namespace kav::platform::command
