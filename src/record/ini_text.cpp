#include "record/ini_text.h"

#include "record/cp1252.h"

namespace kav::record {

namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// True when `s` is well-formed UTF-8 and holds at least one character beyond ASCII.
bool utf8_beyond_ascii(std::string_view s) {
  bool beyond = false;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;  // continuation bytes
    if (c >= 0x80) {
      if (c >= 0xC2 && c <= 0xDF) {
        n = 1;
      } else if ((c & 0xF0) == 0xE0) {
        n = 2;
      } else if (c >= 0xF0 && c <= 0xF4) {
        n = 3;
      } else {
        return false;
      }
      beyond = true;
    }
    for (std::size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return beyond;
}

}  // namespace

IniText parse_ini(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::string converted;
  if (utf8_beyond_ascii(text)) {
    converted = cp1252(text);
    text = converted;
  }
  IniText out;
  out.sections.push_back(IniSection{});
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number;
    const std::string_view line = trimmed(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) {
        out.bad_lines.push_back(number);
        continue;
      }
      out.sections.push_back(IniSection{std::string(trimmed(line.substr(1, line.size() - 2))), number, {}});
      continue;
    }
    const std::size_t eq = line.find('=');
    const std::string_view key = eq == std::string_view::npos ? std::string_view{} : trimmed(line.substr(0, eq));
    if (key.empty()) {
      out.bad_lines.push_back(number);
      continue;
    }
    std::string_view value = trimmed(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    out.sections.back().entries.push_back(IniEntry{std::string(key), std::string(value), number});
  }
  return out;
}

}  // namespace kav::record
