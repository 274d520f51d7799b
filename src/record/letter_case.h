// Letter case as the system compares its names (forms, controls, files,
// printers, environment entries): only the ASCII letters A-Z and a-z change.
// Every other Windows-1252 byte stays as it is, whatever locale the process
// runs in (a toolkit may set the user's locale, under which std::toupper
// would fold accented bytes on some systems and not on others).
#pragma once

#include <string>
#include <string_view>

namespace kav::record {

constexpr char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string upper(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = upper(c);
  return s;
}

inline std::string lower(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = lower(c);
  return s;
}

constexpr bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace kav::record
