// What the monitor would do with one web answer: the order form itself runs
// over it, in memory, with the answer served for its command and the end
// marker for every other request; its tickets are laid out as the print
// service lays them out, and nothing is printed, asked or written on disk.
// So the checker and the monitor can never read an answer differently.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kav::answer {

struct Ticket {
  std::string printer;             // as FORMPRT.PRT names it (Windows-1252)
  std::vector<std::string> lines;  // as printed (Windows-1252)
};

struct Verdict {
  std::string command;
  bool utf8 = false;                 // the answer was read as UTF-8
  std::vector<std::string> monitor;  // the monitor's log lines of it, in order (Windows-1252)
  std::vector<std::string> alerts;   // the alerts that stand after it (Windows-1252)
  std::vector<Ticket> tickets;
  bool refused = false;  // kept aside as KAVFALHA, nothing of it printed
  // The page developer's checklist: what in this answer the page should
  // change (Windows-1252).
  std::vector<std::string> warnings;
};

// Runs the order form once over `answer` (its exact bytes) as the answer to
// `command` (CMD_IMP, CAN_ITE or CMD_FEC).
Verdict check(std::string_view command, std::string_view answer);

// The command an answer was given for: named in the file's name (the kept
// KAVPEND-... and KAVFALHA-... files are), else in a GET_KAVCMD.bat of the
// same folder (`batch`, its bytes, when there is one), else guessed from the
// answer's first record (`guessed` then says so). Nothing when none fits.
std::optional<std::string> command_of(std::string_view file_name, std::string_view batch, std::string_view answer,
                                      bool& guessed);

// The verdict as the installer reads it, in Portuguese (Windows-1252).
std::string report(std::string_view file, const Verdict& v);

}  // namespace kav::answer
