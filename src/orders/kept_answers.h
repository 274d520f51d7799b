// The answers kept aside, Temp\KAVFALHA-<stamp>-<command>.RET: what the
// monitor did not print, for the operator to settle. Each is read again as
// the order form reads an answer, to say which order it holds and why it was
// not printed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orders/command.h"
#include "platform/file_system.h"

namespace kav::orders {

struct KeptAnswer {
  std::string name;     // the file's name in Temp
  std::string stamp;    // the moment it was kept (yyyymmdd-hhmmsscc)
  std::optional<Command> command;
  std::string numero;   // the order of its first record; empty when none
  std::string why;      // the record and field that broke it; empty when it was cut or holds no record
};

// The answer in `path` read with the layouts of `command`: the order it
// names and why it was not printed.
KeptAnswer examine_answer(platform::FileSystem& files, std::string_view path, const Command& command);

// The kept answers in Temp, newest first.
std::vector<KeptAnswer> kept_answers(platform::FileSystem& files);
// Only their names, newest first (nothing read).
std::vector<std::string> kept_answer_names(platform::FileSystem& files);
// One of them, named as kept_answer_names() names it.
KeptAnswer examine_kept(platform::FileSystem& files, const std::string& name);

// Why an answer whose first record is numbered as an end marker, with an
// order after it, is not printed.
std::string marker_refusal(std::string_view numero);

// "dd/mm hh:mm:ss" of a stamp, for the operator.
std::string stamp_moment(std::string_view stamp);

}  // namespace kav::orders
