// The monitor's figures for monitoring tools: counters of checks and web
// exchanges, tickets delivered and waiting per printer, the alerts that
// stand per kind, and how long tickets took from the answer they came from
// to their printer. They are rendered whole in the Prometheus text format
// (what node_exporter's and windows_exporter's textfile collectors read),
// and give the day's delivery summary for the log.
//
// Counters start from zero with the program; the tickets waiting are what
// the spool holds, so they survive a restart. Safe to use from more than one
// thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board/alerts.h"

namespace kav::log {

class Metrics {
 public:
  // The upper bounds of the delivery histogram's buckets, in seconds.
  static constexpr double kBuckets[] = {5, 10, 15, 30, 60, 120, 300, 600, 1800};

  // A check ended.
  void check_done();
  // An exchange with the web application ended: it reached it (an answer or
  // none to give) or failed; `unix_seconds` is the moment.
  void exchange(bool reached, std::int64_t unix_seconds);
  // A ticket of `printer` (for order `order`) was delivered `seconds` after
  // its answer was kept.
  void delivered(std::string_view printer, std::string_view order, double seconds);
  // The tickets waiting per printer, as the spool holds them now (every
  // printer that had some keeps its series, at zero).
  void set_waiting(const std::map<std::string, int>& by_printer);

  // The file's text: every metric with its HELP and TYPE, the alerts that
  // stand counted by kind (every kind present, at zero too), and a line end
  // after the last line.
  std::string render(const std::vector<Alerts::Alert>& alerts) const;

  // The day's summary: one line per printer that delivered tickets since the
  // last summary (printers in order of name), Windows-1252, each at most
  // `width` characters; the figures start over.
  std::vector<std::string> take_summary(std::size_t width = 106);

  // Figures of a list of seconds, as the summary gives them: the median (the
  // mean of the two middle values of an even count) and the 95th percentile
  // by nearest rank.
  static double median(std::vector<double> seconds);
  static double percentile95(std::vector<double> seconds);

 private:
  struct Printer {
    std::uint64_t delivered = 0;
    std::vector<std::uint64_t> buckets = std::vector<std::uint64_t>(std::size(kBuckets), 0);
    double sum = 0;
    int waiting = 0;
  };
  struct DayTicket {
    double seconds;
    std::string order;
  };

  mutable std::mutex mutex_;
  std::uint64_t checks_ = 0;
  std::uint64_t exchanges_ = 0;
  std::uint64_t exchanges_failed_ = 0;
  std::optional<std::int64_t> last_reached_;
  std::map<std::string, Printer> printers_;
  std::map<std::string, std::vector<DayTicket>> day_;
};

}  // namespace kav::log
