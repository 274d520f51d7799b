// Alerts: the failures someone must act on, for as long as they last (the
// web application unreachable or hung, a printer that did not take a ticket,
// a ticket sent again or too old to print, a full disk, an incomplete
// answer). Whoever meets one raises it under a key of its own and clears it
// when the cause has gone; the monitor shows the alerts that stand without
// stopping its polling, and the day's log gets a line when an alert begins,
// changes or ends.
//
// Texts are Windows-1252, at most 106 characters (a log line's text). The
// board may be used from more than one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kav::log {

class Alerts {
 public:
  // Receives the text of a line for the day's log.
  using LogLine = std::function<void(std::string_view text)>;

  struct Alert {
    std::string key;
    std::string text;
  };

  explicit Alerts(LogLine log_line = {}) : log_line_(std::move(log_line)) {}

  // Raises the alert of `key`, or changes its text; the log gets a line when
  // the alert is new or its text changed.
  void raise(std::string_view key, std::string_view text);
  // Ends the alert of `key`, if it stands; the log says it ended.
  void clear(std::string_view key);
  // Ends every alert whose key starts with `prefix`.
  void clear_all(std::string_view prefix);

  // The alerts that stand, oldest first.
  std::vector<Alert> current() const;
  // Changes whenever the alerts that stand change.
  std::uint64_t version() const;

 private:
  void log(std::string_view text) const;

  LogLine log_line_;
  mutable std::mutex mutex_;
  std::vector<Alert> alerts_;
  std::uint64_t version_ = 0;
};

}  // namespace kav::log
