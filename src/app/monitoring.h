// What the monitor tells the monitoring a site already runs:
//  - events in the system's own log (platform/system_log.h), one per change
//    of state with the IDs of board/events.h: the monitor's start and end,
//    each alert's beginning, change and end, the day's summary. A system log
//    that refuses an event never stops the monitor: the day's log says so
//    once;
//  - after every check, the metrics file kavcomanda.prom (board/metrics.h)
//    in the folder `pasta_metricas` of [monitoramento] in kavcomanda.ini,
//    written whole: a temporary file, then a rename;
//  - at midnight and at the end of the monitor, a summary line per printer
//    in the day's log: tickets, median and 95th percentile of the seconds
//    from an answer kept to its ticket delivered, the slowest and its order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "board/alerts.h"
#include "board/metrics.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/system_log.h"

namespace kav::app {

inline constexpr std::string_view kMetricsFileName = "kavcomanda.prom";

class Monitoring {
 public:
  struct Options {
    std::string metrics_folder;                    // Windows path; empty: no metrics file
    std::function<std::int64_t()> unix_now;        // seconds since 1970 UTC; empty: the system's
    std::function<std::map<std::string, int>()> waiting;  // tickets not yet delivered per printer
  };

  // `system_log` may be null (no events). Watches `board`; everything given
  // outlives the monitoring.
  Monitoring(platform::FileSystem& files, platform::Clock& clock, log::Alerts& board, platform::SystemLog* system_log,
             Options options);
  // Stops watching the board.
  ~Monitoring();
  Monitoring(const Monitoring&) = delete;
  Monitoring& operator=(const Monitoring&) = delete;

  void started();
  // An exchange with the web application reached it, or failed.
  void exchange(bool reached);
  // A ticket its printer finished.
  void delivered(std::string_view printer, std::string_view order, double seconds);
  // A check has ended: the day's summary when the day changed, the metrics
  // file.
  void after_check();
  // The monitor ends: the summary, the event, the metrics file.
  void ended();

  log::Metrics& metrics() { return metrics_; }
  void set_metrics_folder(std::string folder) { options_.metrics_folder = std::move(folder); }
  // Where the metrics file goes; empty when there is none.
  std::string metrics_path() const;

 private:
  void alert_changed(log::Alerts::Change change, std::string_view key, std::string_view text);
  void event(int id, platform::SystemLogLevel level, std::string_view text);
  void summary();
  void write_metrics();

  platform::FileSystem& files_;
  platform::Clock& clock_;
  log::Alerts& board_;
  platform::SystemLog* system_log_;
  Options options_;
  log::Metrics metrics_;
  std::string day_;  // YYMMDD of the figures being gathered
  std::mutex refusal_mutex_;
  bool refusal_logged_ = false;
  bool metrics_failure_logged_ = false;
};

// The folder `pasta_metricas` of this installation's kavcomanda.ini (empty:
// none) and, when its section [monitoramento] was refused, the alert
// "configuracao" on `board` (the file's problems are logged by the print
// service, which reads it at start too).
std::string metrics_folder_of_settings(platform::FileSystem& files, log::Alerts& board);

}  // namespace kav::app
