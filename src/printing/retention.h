// Retention: what the spool and the logs keep, where, and for how long.
//
//   [retencao]
//     dias_tickets  days a delivered ticket is kept                      [90]
//     dias_log      days a day's log file is kept                         [365]
//
// A ticket its printer finished ("<base>.txt") of an earlier day than today
// leaves its printer's folder for the folder of its day inside it
// ("<printer>\YYYYMMDD\", spool_store.h): the printer's folder holds the
// tickets of a day and those not delivered, however many years the spool
// keeps. A day folder more than dias_tickets days before today is removed
// with its tickets; a ticket not delivered ("-NAO-ENTREGUE"), one being
// written (".tmp") and anything else in the folder is never touched. A log
// file LOGCMD_YYYYMMDD.txt more than dias_log days old is removed. 0 keeps
// forever. The newest dias_tickets day folders of a printer, and the newest
// dias_log logs, are kept whatever the clock says: a clock set a year ahead
// removes nothing the right clock would keep.
//
// The work is done in small steps, at most kStep files a check: once a day
// a folder's names are read (one folder a check) and what is to move or go
// noted; each check then moves or removes a few of them. When a folder's
// (or the logs') noted files are all done, one line says how many.
#pragma once

#include <cstddef>
#include <deque>
#include <set>
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
  bool file_by_day = false;  // printed tickets of earlier days go to their day's folder
};

// The rules of kavcomanda.ini's [retencao] (defaults when it has none).
RetentionRules retention_rules(const settings::Settings& settings);

class Retention {
 public:
  static constexpr std::size_t kStep = 200;

  Retention(platform::FileSystem& files, platform::Clock& clock, RetentionRules rules, PrintReport report)
      : files_(files), clock_(clock), rules_(rules), report_(std::move(report)) {}

  // One step, at a check: reads one folder, or moves or removes at most
  // kStep files.
  void step();

 private:
  // What one folder read left to do.
  struct Batch {
    std::string folder;  // Windows path: the logs' folder or a printer's
    std::string what;    // for the log lines: the printer's name, or empty for the logs
    std::vector<std::string> to_remove;   // file names in `folder`
    std::vector<std::string> to_file;     // bases of printed tickets, to their day's folder
    std::deque<std::string> old_days;     // day folders to remove with their tickets
    std::vector<std::string> day_names;   // the files of old_days.front(), once read
    bool day_read = false;
    std::size_t next = 0;                 // in the list under way
    std::size_t removed = 0, filed = 0;
    std::set<std::string> touched;        // folders to sync after this step
    bool done() const { return next >= to_remove.size() + to_file.size() && old_days.empty(); }
  };
  void plan_day(const std::string& today);
  void read(const std::string& folder);
  std::vector<std::string> past_their_time(std::vector<std::string>& dated, long days) const;
  std::size_t work(Batch& b, std::size_t budget);
  std::size_t remove_old_day(Batch& b, std::size_t budget);
  void finish(const Batch& b);
  void report(std::string_view text);

  platform::FileSystem& files_;
  platform::Clock& clock_;
  RetentionRules rules_;
  PrintReport report_;
  std::string day_;                     // the day whose plan is under way
  std::deque<std::string> to_read_;     // folders still to be read today
  std::deque<Batch> batches_;           // what is noted, by folder
};

}  // namespace kav::printing
