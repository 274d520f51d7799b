#include "app/monitoring.h"

#include <algorithm>
#include <chrono>

#include "board/events.h"
#include "log/log_form.h"
#include "platform/status.h"
#include "record/letter_case.h"
#include "record/cp1252.h"
#include "settings/kav_settings.h"

namespace kav::app {

namespace {

platform::SystemLogLevel level_of(log::EventLevel level) {
  switch (level) {
    case log::EventLevel::error: return platform::SystemLogLevel::error;
    case log::EventLevel::warning: return platform::SystemLogLevel::warning;
    case log::EventLevel::information: break;
  }
  return platform::SystemLogLevel::information;
}

std::int64_t system_unix_now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Monitoring::Monitoring(platform::FileSystem& files, platform::Clock& clock, log::Alerts& board,
                       platform::SystemLog* system_log, Options options)
    : files_(files), clock_(clock), board_(board), system_log_(system_log), options_(std::move(options)) {
  if (!options_.unix_now) options_.unix_now = system_unix_now;
  day_ = clock_.date_yymmdd();
  board_.watch([this](log::Alerts::Change change, std::string_view key, std::string_view text) {
    alert_changed(change, key, text);
  });
}

Monitoring::~Monitoring() { board_.watch({}); }

std::string Monitoring::metrics_path() const {
  if (options_.metrics_folder.empty()) return {};
  std::string path = options_.metrics_folder;
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  return path + std::string(kMetricsFileName);
}

void Monitoring::event(int id, platform::SystemLogLevel level, std::string_view text) {
  if (system_log_ == nullptr || system_log_->write(id, level, text)) return;
  std::lock_guard lock(refusal_mutex_);  // alerts may change on the print service's thread
  if (refusal_logged_) return;
  refusal_logged_ = true;
  log::write_log_line(files_, clock_,
                      record::cp1252("Log do sistema recusou o evento ") + std::to_string(id) +
                          record::cp1252("; eventos só neste arquivo !!!"));
}

void Monitoring::alert_changed(log::Alerts::Change change, std::string_view key, std::string_view text) {
  const log::AlertEvent* kind = log::alert_event_of(key);
  const int begin = kind != nullptr ? kind->begin_id : log::kEventOtherAlert;
  const auto level = kind != nullptr ? level_of(kind->level) : platform::SystemLogLevel::warning;
  if (change == log::Alerts::Change::ended) {
    event(begin + 1, platform::SystemLogLevel::information, "Resolvido: " + std::string(text));
  } else {
    event(begin, level, text);
  }
}

void Monitoring::started() {
  event(log::kEventStart, platform::SystemLogLevel::information, record::cp1252("Início do monitor"));
  write_metrics();
}

void Monitoring::exchange(bool reached) { metrics_.exchange(reached, options_.unix_now()); }

void Monitoring::delivered(std::string_view printer, std::string_view order, double seconds) {
  metrics_.delivered(printer, order, seconds);
}

void Monitoring::summary() {
  for (const auto& line : metrics_.take_summary()) {
    log::write_log_line(files_, clock_, line);
    event(log::kEventSummary, platform::SystemLogLevel::information, line);
  }
}

void Monitoring::after_check() {
  metrics_.check_done();
  const std::string today = clock_.date_yymmdd();
  if (today != day_) {
    summary();
    day_ = today;
  }
  write_metrics();
}

void Monitoring::ended() {
  summary();
  write_metrics();
  event(log::kEventEnd, platform::SystemLogLevel::information, record::cp1252("Fim do monitor"));
}

void Monitoring::write_metrics() {
  const std::string path = metrics_path();
  if (path.empty()) return;
  if (options_.waiting) metrics_.set_waiting(options_.waiting());
  const std::string text = metrics_.render(board_.current());
  const std::string temporary = path + ".tmp";
  std::unique_ptr<platform::File> file;
  bool ok = files_.open(temporary, platform::OpenMode::output, file).ok();
  if (ok) {
    ok = file->write(text).ok();
    ok = file->close().ok() && ok;
    ok = ok && files_.rename(temporary, path).ok();
    if (!ok) files_.remove(temporary).ignore();  // the failure is logged below
  }
  if (ok) {
    metrics_failure_logged_ = false;
  } else if (!metrics_failure_logged_) {
    metrics_failure_logged_ = true;
    log::write_log_line(files_, clock_, "Falha ao gravar " + path + " !!!");
  }
}

std::string metrics_folder_of_settings(platform::FileSystem& files, log::Alerts& board) {
  // The file's problems are logged once, by the print service, which reads
  // the same file at start; here only what it means for the metrics.
  const settings::Settings s = settings::read_kav_settings(files);
  const bool refused = std::any_of(s.sections.begin(), s.sections.end(), [](const auto& x) {
    return x.refused && record::upper(x.kind) == record::upper(settings::kMonitoringSection);
  });
  if (refused) {
    board.raise(log::alert_key::config,
                std::string(settings::kConfigName) + record::cp1252(": [monitoramento] recusada; veja o log do dia"));
  }
  return s.value(settings::kav_schema(), settings::kMonitoringSection, {}, settings::key::pasta_metricas);
}

}  // namespace kav::app
