// Alerts: the failures someone must act on, for as long as they last (the
// web application unreachable or hung, a printer that did not take a ticket,
// a ticket sent again or too old to print, a full disk, an incomplete
// answer). Whoever meets one raises it under a key of its own and clears it
// when the cause has gone; the monitor shows the alerts that stand without
// stopping its polling, and the day's log gets a line when an alert begins,
// changes or ends.
//
// Texts are Windows-1252. The board keeps a text as the log writes it: a
// control character becomes a blank, trailing blanks go, and it is cut to
// 106 characters (a log line's text), so the window, the console and the log
// show the same words. The board may be used from more than one thread; its
// log lines are written in the order of the changes they report.
//
// Log lines: the text when an alert begins or its text changes, and
// "Resolvido: " + the text when it ends.
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

  // What happened to an alert, for a watcher of the board.
  enum class Change { begun, changed, ended };
  // Hears every change with the alert's key and text (as kept; for an end,
  // the text it had), in the order of the changes, after its log line.
  using Watch = std::function<void(Change change, std::string_view key, std::string_view text)>;

  explicit Alerts(LogLine log_line = {}) : log_line_(std::move(log_line)) {}

  // The watcher of the changes to come (one; set before the board is used
  // from more than one thread).
  void watch(Watch watch);

  // Raises the alert of `key`, or changes its text; the log gets a line when
  // the alert is new or its text changed. An alert keeps its place (the
  // order in which the alerts began) when its text changes.
  void raise(std::string_view key, std::string_view text);
  // Ends the alert of `key`, if it stands; the log says it ended.
  void clear(std::string_view key);
  // Ends every alert whose key starts with `prefix`.
  void clear_all(std::string_view prefix);

  // The alerts that stand, oldest first.
  std::vector<Alert> current() const;
  // Changes whenever the alerts that stand change (cheap: a display compares
  // it on every tick and reads current() only when it moved).
  std::uint64_t version() const;

  // The text as the board keeps it (see above).
  static std::string normalized(std::string_view text);
  static constexpr std::size_t kTextWidth = 106;

 private:
  // Writes a log line after `state` (holding mutex_) is released, in the
  // order of the changes: log_mutex_ is taken before mutex_ is let go, so a
  // reader of the board never waits for the log file.
  void log(std::unique_lock<std::mutex>& state, std::string_view text, Change change, std::string_view key,
           std::string_view alert_text) const;

  LogLine log_line_;
  Watch watch_;
  mutable std::mutex log_mutex_;
  mutable std::mutex mutex_;
  std::vector<Alert> alerts_;
  std::uint64_t version_ = 0;
};

}  // namespace kav::log
