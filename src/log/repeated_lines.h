// The same failure met check after check: its log line is written once, and
// then a line with the count of its repeats, not one line per repeat. A page
// that answers one damaged order at every request, or a web server that is
// down all night, would otherwise fill the day's log with the same words
// (dozens of lines per check, thousands an hour).
//
// A text is written the first time it comes. Its repeats are counted, in the
// same check or in the checks after it, and summed up in one line
// "Repetida N vez(es) desde hh:mm: <text>":
//   - at the end of the first check that no longer meets it (the failure
//     has ended or changed), after which it is new again;
//   - every kSummaryEveryMs while it lasts, so that the log shows it still
//     stands.
// A failure that lasts costs one line every ten minutes instead of one per
// check (120 per ten minutes) or more.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kav::log {

class RepeatedLines {
 public:
  static constexpr std::int64_t kSummaryEveryMs = 10LL * 60 * 1000;

  // Whether `text` is to be written now: true when it is not a repeat of a
  // text met since the end of the check before. `now_ms` counts on one
  // clock for every call; `hhmm` is the moment as the log shows it.
  bool admit(std::string_view text, std::int64_t now_ms, std::string_view hhmm);
  // A check has ended: the lines to write for the repeats counted.
  std::vector<std::string> end_check(std::int64_t now_ms);

  // The summary line of `count` repeats of `text` since `hhmm`.
  static std::string summary(std::size_t count, std::string_view hhmm, std::string_view text);

 private:
  struct Seen {
    bool this_check = false;
    std::size_t repeats = 0;   // not yet summed up
    std::string since;         // hh:mm of the first repeat not yet summed up
    std::int64_t written_ms = 0;  // the last line written of it
  };
  std::map<std::string, Seen, std::less<>> seen_;
};

}  // namespace kav::log
