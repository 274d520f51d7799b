// Retention: what the spool and the logs keep, and for how long.
//
//   [retencao]
//     dias_tickets  days a delivered ticket stays in its printer's folder [90]
//     dias_log      days a day's log file is kept                         [365]
//
// A ticket its printer finished ("<base>.txt") whose date is more than
// dias_tickets days before today is removed; a ticket not delivered
// ("-NAO-ENTREGUE"), one being written (".tmp") and anything else in the
// folder is never touched. A log file LOGCMD_YYYYMMDD.txt more than
// dias_log days old is removed. 0 keeps forever.
//
// The work is done in small steps, at most kStep files a check: once a day
// a folder's names are read (one folder a check) and those past their time
// noted; each check then removes a few of them. When a folder's (or the
// logs') noted files are all gone, one line says how many went.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "printing/ledger.h"
#include "settings/config_file.h"

namespace kav::printing {

struct RetentionRules {
  long ticket_days = 0;  // 0: kept forever
  long log_days = 0;
};

// The rules of kavcomanda.ini's [retencao] (defaults when it has none).
RetentionRules retention_rules(const settings::Settings& settings);

class Retention {
 public:
  static constexpr std::size_t kStep = 200;

  Retention(platform::FileSystem& files, platform::Clock& clock, RetentionRules rules, PrintReport report)
      : files_(files), clock_(clock), rules_(rules), report_(std::move(report)) {}

  // One step, at a check: reads one folder, or removes at most kStep files.
  void step();

 private:
  struct Batch {
    std::string folder;  // Windows path
    std::string what;    // for the log line: the printer's name, or empty for the logs
    std::vector<std::string> names;
    std::size_t next = 0;
    std::size_t removed = 0;
  };
  void plan_day(const std::string& today);
  void report(std::string_view text);
  void read(const std::string& folder);

  platform::FileSystem& files_;
  platform::Clock& clock_;
  RetentionRules rules_;
  PrintReport report_;
  std::string day_;                     // the day whose plan is under way
  std::deque<std::string> to_read_;     // folders still to be read today
  std::deque<Batch> batches_;           // files past their time, by folder
};

}  // namespace kav::printing
