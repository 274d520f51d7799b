#include "log/log_form.h"

#include "form/form_names.h"

#include "platform/file_status.h"
#include "platform/text_file.h"
#include "record/digits.h"

namespace kav::log {

namespace {
const std::string kAbrar = record::padded("ABRAR", 15);
constexpr std::string_view kPrefix = "C:\\OrbelaTeknovarium\\LOGCMD_";
constexpr std::size_t kLineWidth = 120;
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
  // The first line of a day creates the day's file: one creation attempt,
  // then the date, time and name are read again. A file that can be neither
  // opened nor created (a missing folder) loses the line; the caller goes on.
  for (int pass = 0; pass < 2; ++pass) {
    const std::string w_data_log = record::to_digits(record::digits_value("00" + clock.date_yymmdd()) + 20000000, 8);
    const std::string w_hora = clock.time_hhmmsscc();
    const std::string w_nomelog = log_file_name(w_data_log);
    const std::string st_log = logvirt.open(w_nomelog, platform::OpenMode::extend);
    if (st_log == platform::status::not_found) {
      if (pass == 0 && logvirt.open(w_nomelog, platform::OpenMode::output) == platform::status::ok) {
        logvirt.close();
      }
      continue;
    }
    logvirt.write_line(log_line(w_data_log, w_hora, texto));
    logvirt.close();
    return;
  }
}

}  // namespace kav::log
