#include "log/log_form.h"

#include <map>
#include <mutex>
#include <set>

#include "form/form_names.h"

#include "platform/status.h"
#include "platform/text_file.h"
#include "record/digits.h"

namespace kav::log {

namespace {
const std::string kAbrar = record::padded("ABRAR", 15);
constexpr std::string_view kPrefix = "C:\\OrbelaTeknovarium\\LOGCMD_";
constexpr std::size_t kLineWidth = 120;
constexpr std::string_view kLogFolder = "C:\\OrbelaTeknovarium";

// What was written to the logs of one file system and not yet synced. The
// log is written from more than one thread (the alert board's lines).
struct Unsynced {
  std::set<std::string> files;
  bool made = false;  // a day's file was made: its folder needs a sync
  std::uint64_t lines = 0;
};
std::mutex unsynced_mutex;
std::map<const platform::FileSystem*, Unsynced> unsynced;

void note_written(platform::FileSystem& files, const std::string& name, bool made) {
  const std::lock_guard lock(unsynced_mutex);
  Unsynced& u = unsynced[&files];
  u.files.insert(name);
  u.made = u.made || made;
  ++u.lines;
}
}  // namespace

std::string log_file_name(std::string_view yyyymmdd) {
  return std::string(kPrefix) + std::string(yyyymmdd) + ".txt";
}

std::string log_line(std::string_view yyyymmdd, std::string_view hhmmsscc, std::string_view texto) {
  std::string line = std::string(yyyymmdd) + ' ' + std::string(hhmmsscc.substr(0, 4)) + ' ' + std::string(texto);
  // A control character would split or garble the line in the file: it is
  // written as a blank, so every record stays one line of 120 characters.
  return record::blank_controls(record::padded(line, kLineWidth));
}

LogForm::LogForm(LLink& link, platform::FileSystem& files, platform::Clock& clock)
    : link_(link), files_(files), clock_(clock), w_oper_(15, ' ') {
  design_.name = form::kLogForm;
  design_.caption = "KAV - LOG";
  design_.takes_focus = false;  // writes a line and closes: the operator works on
  design_.width = 200;
  design_.height = 60;
}

void LogForm::form_open(form::FormContext& ctx) {
  w_oper_ = kAbrar;
  proc_log_99();
  ctx.end_form();
}

void LogForm::proc_log_99() {
  if (w_oper_ == kAbrar) grava_log();
  w_oper_.assign(15, ' ');
}

void LogForm::grava_log() { write_log_line(files_, clock_, link_.texto()); }

void write_log_line(platform::FileSystem& files, platform::Clock& clock, std::string_view texto) {
  platform::TextFile logvirt(files);
  bool made = false;
  // The first line of a day creates the day's file: one creation attempt,
  // then the date, time and name are read again. A file that can be neither
  // opened nor created (a missing folder) loses the line; the caller goes on.
  for (int pass = 0; pass < 2; ++pass) {
    const std::string w_data_log = record::to_digits(record::digits_value("00" + clock.date_yymmdd()) + 20000000, 8);
    const std::string w_hora = clock.time_hhmmsscc();
    const std::string w_nomelog = log_file_name(w_data_log);
    const platform::Status st_log = logvirt.open(w_nomelog, platform::OpenMode::extend);
    if (st_log == platform::Status::kNotFound) {
      if (pass == 0 && logvirt.open(w_nomelog, platform::OpenMode::output).ok()) {
        logvirt.close().ignore();
        made = true;
      }
      continue;
    }
    logvirt.write_line(log_line(w_data_log, w_hora, texto)).ignore();  // best effort: a line not written is lost
    logvirt.close().ignore();
    note_written(files, w_nomelog, made);
    return;
  }
}

std::uint64_t log_lines_written(platform::FileSystem& files) {
  const std::lock_guard lock(unsynced_mutex);
  const auto it = unsynced.find(&files);
  return it == unsynced.end() ? 0 : it->second.lines;
}

bool sync_log(platform::FileSystem& files) {
  Unsynced u;
  {
    const std::lock_guard lock(unsynced_mutex);
    const auto it = unsynced.find(&files);
    if (it == unsynced.end()) return true;
    u.files.swap(it->second.files);
    std::swap(u.made, it->second.made);
  }
  bool ok = true;
  for (const auto& name : u.files) {
    std::unique_ptr<platform::File> file;
    const platform::Status st = files.open(name, platform::OpenMode::extend, file);
    if (st == platform::Status::kNotFound) continue;  // removed meanwhile: nothing to keep
    const bool synced = st.ok() && file->sync().ok();
    ok = (file == nullptr || file->close().ok()) && synced && ok;
  }
  if (u.made) ok = files.sync_directory(kLogFolder).ok() && ok;
  return ok;
}

}  // namespace kav::log
