// Expected text of files the system writes: written here with "\n", turned
// into the platform's own line end (CR LF on Windows).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/line_end.h"
#include "record/area.h"

namespace kav::test {

inline std::string with_line_ends(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n')
      out += platform::kLineEnd;
    else
      out += c;
  }
  return out;
}

// The lines of a text file the system wrote, without their line ends.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(platform::kLineEnd, start);
    out.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + platform::kLineEnd.size();
  }
  return out;
}

// The messages of a day's log (after date and time, without trailing
// blanks); `without_checks` leaves out the monitor's "Checando" lines.
inline std::vector<std::string> log_texts(const std::string& log, bool without_checks = false) {
  std::vector<std::string> out;
  for (const std::string& line : lines_of(log)) {
    if (without_checks && line.find("Checando") != std::string::npos) continue;
    out.emplace_back(record::trim_right(line.substr(14)));
  }
  return out;
}

}  // namespace kav::test
