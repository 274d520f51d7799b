// 99-LOG: appends the text that the caller left in L-LINK-TEXTO to the day's
// log file C:\OrbelaTeknovarium\LOGCMD_YYYYMMDD.txt, then closes itself.
#pragma once

#include <cstdint>
#include <string>

#include "log/l_link.h"
#include "form/form.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "record/area.h"

namespace kav::log {

// One log line: date YYYYMMDD, blank, time HHMM, blank, the first 106
// characters of `texto`; 120 characters in all.
std::string log_line(std::string_view yyyymmdd, std::string_view hhmmsscc, std::string_view texto);

// The day's file name for a date YYYYMMDD.
std::string log_file_name(std::string_view yyyymmdd);

// Appends one line for `texto` to the day's log file: the whole of writing a
// log line, for the log form and for the platform services that report.
void write_log_line(platform::FileSystem& files, platform::Clock& clock, std::string_view texto);

// The lines reach the disk when the log is synced, not line by line (a sync
// costs more than a check with no work): the caller syncs at the end of a
// check that wrote something besides its first line, when an alert begins,
// changes or ends, and on the way out. A power cut loses the lines written
// since the last sync, and nothing before.
//
// How many lines have been written to the logs on `files` (a count to
// compare: whether anything was written in between).
std::uint64_t log_lines_written(platform::FileSystem& files);
// Syncs every log file on `files` that got a line since the last sync, and
// the folder when one of them was made meanwhile. True when all of it went
// well (or nothing was to be synced).
bool sync_log(platform::FileSystem& files);

class LogForm final : public form::Form {
 public:
  LogForm(LLink& link, platform::FileSystem& files, platform::Clock& clock);

  const form::FormDesign& design() const override { return design_; }
  void form_open(form::FormContext& ctx) override;

 private:
  void proc_log_99();
  void grava_log();

  LLink& link_;
  platform::FileSystem& files_;
  platform::Clock& clock_;
  form::FormDesign design_;
  std::string w_oper_;
};

}  // namespace kav::log
