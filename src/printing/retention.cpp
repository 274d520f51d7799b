#include "printing/retention.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "platform/print/spool.h"
#include "record/cp1252.h"
#include "record/letter_case.h"
#include "settings/kav_settings.h"

namespace kav::printing {

namespace {

constexpr std::string_view kRoot = "C:\\OrbelaTeknovarium";
constexpr std::string_view kLogPrefix = "LOGCMD_";

// The day `days` before `yyyymmdd`, as YYYYMMDD.
std::string days_before(const std::string& yyyymmdd, long days) {
  using namespace std::chrono;
  const int y = std::stoi(yyyymmdd.substr(0, 4));
  const auto m = static_cast<unsigned>(std::stoi(yyyymmdd.substr(4, 2)));
  const auto d = static_cast<unsigned>(std::stoi(yyyymmdd.substr(6, 2)));
  const year_month_day before{sys_days{year{y} / month{m} / day{d}} - std::chrono::days{days}};
  char out[16];
  std::snprintf(out, sizeof out, "%04d%02u%02u", static_cast<int>(before.year()), static_cast<unsigned>(before.month()),
                static_cast<unsigned>(before.day()));
  return out;
}

bool all_digits(std::string_view s) { return s.find_first_not_of("0123456789") == std::string_view::npos; }

// The date of a log file's name, or nothing.
std::optional<std::string> log_date(std::string_view name) {
  const std::string upper = record::upper(name);
  if (upper.size() != 19 || !upper.starts_with(kLogPrefix) || !upper.ends_with(".TXT")) return std::nullopt;
  const std::string date = upper.substr(7, 8);
  if (!all_digits(date)) return std::nullopt;
  return date;
}

}  // namespace

RetentionRules retention_rules(const settings::Settings& settings) {
  const auto days = [&](std::string_view key) {
    return settings::as_number(settings.value(settings::kav_schema(), settings::kRetentionSection, {}, key)).value_or(0);
  };
  return RetentionRules{days(settings::key::dias_tickets), days(settings::key::dias_log)};
}

void Retention::step() {
  if (rules_.ticket_days <= 0 && rules_.log_days <= 0) return;
  const std::string today = "20" + clock_.date_yymmdd();
  if (today != day_) plan_day(today);
  if (!to_read_.empty()) {
    const std::string folder = to_read_.front();
    to_read_.pop_front();
    read(folder);
    return;
  }
  std::size_t budget = kStep;
  while (budget > 0 && !batches_.empty()) {
    Batch& b = batches_.front();
    for (; budget > 0 && b.next < b.names.size(); --budget) {
      if (files_.remove(b.folder + "\\" + b.names[b.next++]).ok()) ++b.removed;
    }
    if (b.next < b.names.size()) break;
    if (report_ && b.removed > 0) {
      if (b.what.empty()) {
        report(record::cp1252("Retenção: ") + std::to_string(b.removed) + " log(s) com mais de " +
               std::to_string(rules_.log_days) + " dias removido(s)");
      } else {
        report(record::cp1252("Retenção: ") + std::to_string(b.removed) + " ticket(s) impresso(s) de " + b.what +
               " com mais de " + std::to_string(rules_.ticket_days) + " dias removido(s)");
      }
    }
    batches_.pop_front();
  }
}

void Retention::report(std::string_view text) { report_(text.substr(0, 106)); }

// A new day: every folder is read again, one a check.
void Retention::plan_day(const std::string& today) {
  day_ = today;
  to_read_.clear();
  batches_.clear();
  if (rules_.log_days > 0) to_read_.emplace_back(kRoot);
  if (rules_.ticket_days > 0) {
    for (const auto& folder : files_.list(platform::print::kSpoolRoot, true)) {
      to_read_.push_back(std::string(platform::print::kSpoolRoot) + "\\" + folder);
    }
  }
}

void Retention::read(const std::string& folder) {
  Batch b;
  b.folder = folder;
  if (folder == kRoot) {
    const std::string cutoff = days_before(day_, rules_.log_days);
    for (auto& name : files_.list(folder, false)) {
      if (const auto date = log_date(name); date && *date < cutoff) b.names.push_back(std::move(name));
    }
  } else {
    b.what = platform::print::printer_of_folder(folder.substr(folder.rfind('\\') + 1));
    if (b.what.empty()) b.what = "(sem impressora)";
    const std::string cutoff = days_before(day_, rules_.ticket_days);
    for (auto& name : files_.list(folder, false)) {
      const auto e = platform::print::classify_spool_file(name);
      // Only a ticket its printer finished; never one not delivered.
      if (e.kind != platform::print::SpoolEntry::Kind::printed || !platform::stamp_centis(e.base)) continue;
      if (e.base.substr(0, 8) < cutoff) b.names.push_back(std::move(name));
    }
  }
  if (!b.names.empty()) batches_.push_back(std::move(b));
}

}  // namespace kav::printing
