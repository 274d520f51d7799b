// Expected text of files the system writes: written here with "\n", turned
// into the platform's own line end (CR LF on Windows).
#pragma once

#include <string>
#include <string_view>

#include "platform/line_end.h"

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

}  // namespace kav::test
