#include "printing/retention.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "platform/print/spool.h"
#include "platform/print/spool_store.h"
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
  return RetentionRules{days(settings::key::dias_tickets), days(settings::key::dias_log), true};
}

void Retention::step() {
  if (rules_.ticket_days <= 0 && rules_.log_days <= 0 && !rules_.file_by_day) return;
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
    budget -= work(b, budget);
    // What moved reaches the disk once for the step: the new names and the
    // names gone.
    for (const auto& folder : b.touched) files_.sync_directory(folder).ignore();
    b.touched.clear();
    if (!b.done()) break;
    finish(b);
    batches_.pop_front();
  }
}

// Removals first, then filing, then the day folders past their time; the
// files dealt with (at most `budget`).
std::size_t Retention::work(Batch& b, std::size_t budget) {
  std::size_t used = 0;
  for (; used < budget && b.next < b.to_remove.size() + b.to_file.size(); ++used, ++b.next) {
    if (b.next < b.to_remove.size()) {
      if (files_.remove(b.folder + "\\" + b.to_remove[b.next]).ok()) ++b.removed;
      continue;
    }
    const std::string& base = b.to_file[b.next - b.to_remove.size()];
    if (platform::print::SpoolStore(files_).file_by_day(b.folder, base)) {
      ++b.filed;
      b.touched.insert(b.folder);
      b.touched.insert(platform::print::SpoolStore::day_folder(b.folder, base));
    }
  }
  while (used < budget && !b.old_days.empty()) used += remove_old_day(b, budget - used);
  return used;
}

// Removes the tickets of the oldest day folder noted, then the folder.
std::size_t Retention::remove_old_day(Batch& b, std::size_t budget) {
  const std::string day = b.folder + "\\" + b.old_days.front();
  if (!b.day_read) {
    b.day_names = files_.list(day, false);
    std::erase_if(b.day_names, [](const std::string& n) {
      return platform::print::classify_spool_file(n).kind != platform::print::SpoolEntry::Kind::printed;
    });
    b.day_read = true;
    b.next = b.to_remove.size() + b.to_file.size();
  }
  std::size_t used = 0;
  while (used < budget && !b.day_names.empty()) {
    if (files_.remove(day + "\\" + b.day_names.back()).ok()) ++b.removed;
    b.day_names.pop_back();
    ++used;
  }
  if (b.day_names.empty()) {
    // A folder that holds anything else is left: nobody's file is removed.
    if (files_.remove_folder(day).ok()) b.touched.insert(b.folder);
    b.old_days.pop_front();
    b.day_read = false;
    ++used;
  }
  return used;
}

void Retention::finish(const Batch& b) {
  if (!report_) return;
  if (b.what.empty()) {
    if (b.removed > 0) {
      report(record::cp1252("Retenção: ") + std::to_string(b.removed) + " log(s) com mais de " +
             std::to_string(rules_.log_days) + " dias removido(s)");
    }
    return;
  }
  if (b.filed > 0) {
    report("Spool: " + std::to_string(b.filed) + " ticket(s) impresso(s) de " + b.what +
           " de dias anteriores arquivado(s) na pasta do dia");
  }
  if (b.removed > 0) {
    report(record::cp1252("Retenção: ") + std::to_string(b.removed) + " ticket(s) impresso(s) de " + b.what +
           " com mais de " + std::to_string(rules_.ticket_days) + " dias removido(s)");
  }
}

void Retention::report(std::string_view text) { report_(text.substr(0, 106)); }

// A new day: every folder is read again, one a check.
void Retention::plan_day(const std::string& today) {
  day_ = today;
  to_read_.clear();
  batches_.clear();
  if (rules_.log_days > 0) to_read_.emplace_back(kRoot);
  if (rules_.ticket_days > 0 || rules_.file_by_day) {
    for (const auto& folder : files_.list(platform::print::kSpoolRoot, true)) {
      to_read_.push_back(std::string(platform::print::kSpoolRoot) + "\\" + folder);
    }
  }
}

// Of `dated` (sorted, each beginning with its YYYYMMDD), those more than
// `days` days before today, but never one of the newest `days`: a clock set
// far ahead removes no more than the right clock would on a day that had
// work every day.
std::vector<std::string> Retention::past_their_time(std::vector<std::string>& dated, long days) const {
  const std::string cutoff = days_before(day_, days);
  const std::size_t keep = static_cast<std::size_t>(days);
  const std::size_t beyond = dated.size() > keep ? dated.size() - keep : 0;
  std::vector<std::string> out;
  for (std::size_t i = 0; i < beyond && dated[i].substr(0, 8) < cutoff; ++i) out.push_back(std::move(dated[i]));
  return out;
}

void Retention::read(const std::string& folder) {
  Batch b;
  b.folder = folder;
  if (folder == kRoot) {
    std::vector<std::string> logs;  // by date: a log's name, after its date
    for (auto& name : files_.list(folder, false)) {
      if (const auto date = log_date(name)) logs.push_back(*date + name);
    }
    std::sort(logs.begin(), logs.end());
    for (auto& log : past_their_time(logs, rules_.log_days)) b.to_remove.push_back(log.substr(8));
  } else {
    b.what = platform::print::printer_of_folder(folder.substr(folder.rfind('\\') + 1));
    if (b.what.empty()) b.what = "(sem impressora)";
    for (auto& name : rules_.file_by_day ? files_.list(folder, false) : std::vector<std::string>{}) {
      auto e = platform::print::classify_spool_file(name);
      // Only a ticket its printer finished; never one not delivered.
      if (e.kind != platform::print::SpoolEntry::Kind::printed || !platform::stamp_centis(e.base)) continue;
      if (e.base.substr(0, 8) < day_) b.to_file.push_back(std::move(e.base));
    }
    if (rules_.ticket_days > 0) {
      auto days = platform::print::SpoolStore(files_).days(folder);
      for (auto& day : past_their_time(days, rules_.ticket_days)) b.old_days.push_back(std::move(day));
    }
  }
  if (!b.done()) batches_.push_back(std::move(b));
}

}  // namespace kav::printing
