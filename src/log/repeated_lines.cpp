#include "log/repeated_lines.h"

namespace kav::log {

bool RepeatedLines::admit(std::string_view text, std::int64_t now_ms, std::string_view hhmm) {
  auto at = seen_.find(text);
  if (at == seen_.end()) {
    seen_.emplace(std::string(text), Seen{true, 0, {}, now_ms});
    return true;
  }
  Seen& s = at->second;
  s.this_check = true;
  if (s.repeats++ == 0) s.since = std::string(hhmm);
  return false;
}

std::vector<std::string> RepeatedLines::end_check(std::int64_t now_ms) {
  std::vector<std::string> lines;
  for (auto at = seen_.begin(); at != seen_.end();) {
    Seen& s = at->second;
    const bool due = !s.this_check || now_ms - s.written_ms >= kSummaryEveryMs;
    if (due && s.repeats > 0) {
      lines.push_back(summary(s.repeats, s.since, at->first));
      s.repeats = 0;
      s.written_ms = now_ms;
    }
    if (!s.this_check) {
      at = seen_.erase(at);
      continue;
    }
    s.this_check = false;
    ++at;
  }
  return lines;
}

std::string RepeatedLines::summary(std::size_t count, std::string_view hhmm, std::string_view text) {
  return "Repetida " + std::to_string(count) + " vez(es) desde " + std::string(hhmm) + ": " + std::string(text);
}

}  // namespace kav::log
