#include "printing/spooling_print_service.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <system_error>
#include <thread>

#include "platform/status.h"
#include "platform/line_end.h"
#include "platform/print/spool.h"
#include "platform/text_file.h"
#include "board/alerts.h"
#include "board/events.h"
#include "printing/profiled_outlet.h"
#include "printing/test_page.h"
#include "record/cp1252.h"
#include "settings/kav_settings.h"
#include "record/digits.h"

namespace kav::printing {

using platform::print::SpoolStore;

namespace {

std::string read_all(platform::FileSystem& files, std::string_view path, platform::Status& status) {
  platform::TextFile file(files);
  status = file.open(path, platform::OpenMode::input);
  std::string text;
  if (!status.ok()) return text;
  char c = 0;
  while (file.read_char(c).ok()) text += c;
  file.close().ignore();
  return text;
}

// Calls `f` once for every index below `n`; side by side on a few threads
// when asked (the calls then must share nothing that is not safe to share).
void for_each_index(std::size_t n, bool side_by_side, const std::function<void(std::size_t)>& f) {
  constexpr std::size_t kMaxThreads = 8;
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < n; i = next++) f(i);
  };
  std::vector<std::thread> pool;
  if (side_by_side) {
    for (std::size_t k = 1; k < std::min(n, kMaxThreads); ++k) {
      try {
        pool.emplace_back(work);
      } catch (const std::system_error&) {
        break;  // no more threads: the ones there (and this one) do the rest
      }
    }
  }
  work();
  for (auto& t : pool) t.join();
}

}  // namespace

SpoolingPrintService::SpoolingPrintService(platform::FileSystem& files, platform::Clock& clock,
                                           const platform::TicketLayout& layout,
                                           std::unique_ptr<platform::print::PrinterOutlet> outlet, PrintReport report,
                                           log::Alerts* board, SpoolOptions options)
    : clock_(clock),
      layout_(layout),
      files_(files),
      options_(options),
      store_(files),
      worker_(store_, std::move(outlet), options.hand_over),
      ledger_(store_, clock, worker_, std::move(report), board, options.redelivery_limit),
      retention_(files, clock, options.retention, [this](std::string_view text) { ledger_.report_line(text); }) {
  if (options_.conditions) ledger_.watch(options_.conditions);
  ledger_.set_away_rules(options_.profiles, &layout_, [this](const Ticket& from, std::string_view to, std::string text) {
    return keep_elsewhere(from, to, std::move(text));
  });
}

SpoolingPrintService::~SpoolingPrintService() { finish(); }

void SpoolingPrintService::finish() {
  if (finished_) return;
  finished_ = true;
  if (open_) close().ignore();  // a job left open is still a ticket
  drop_staged();       // a work that did not end keeps nothing: its answer is done over
  // One last look at the spooler on the way out, bounded in time: the
  // tickets their printer has finished lose their mark now, not at the next
  // start. A spooler that does not answer in time is not waited for (a look
  // not yet begun is dropped; one under way ends the worker's last task).
  ledger_.closing();
  if (worker_.wait_until_idle_for(kLastLook)) {
    collect();
    ledger_.follow_up();
    if (!worker_.wait_until_idle_for(kLastLook)) worker_.drop_queued_looks();
  } else {
    worker_.drop_queued_looks();
  }
  worker_.stop();
  // The log hears of the last hand-overs and what the last look saw; the
  // alerts are left as they stand.
  collect();
}

void SpoolingPrintService::drop_staged() {
  for (auto& staged : staged_) {
    staged.file->close().ignore();  // dropped anyway
    store_.drop_unfinished(staged.ticket.folder, staged.ticket.base);
  }
  staged_.clear();
}

platform::Status SpoolingPrintService::open(std::string_view print_form, std::string_view printer_info_path) {
  if (open_) close().ignore();
  if (!layout_.is_form(print_form)) return platform::Status::kBadFile;
  platform::Status st;
  const std::string text = read_all(files_, printer_info_path, st);
  settings_ = platform::print::parse_printer_info(text);
  made_at_ = now_stamp();
  lines_.clear();
  open_ = true;
  return st.ok() ? st : platform::Status::kNotFound;
}

platform::Status SpoolingPrintService::write(std::string_view group, std::string_view print_record) {
  if (!open_) return platform::Status::kWriteNotOpen;
  auto lines = layout_.lines(group, print_record, made_at_);
  if (!lines) return platform::Status::kNoRecord;
  for (auto& line : *lines) lines_.push_back(std::move(line));
  return platform::Status::kOk;
}

std::string SpoolingPrintService::next_base_name(const std::string& folder) {
  // The clock's own date and time, never a stamp in use: a clock set back
  // names tickets by the real time again.
  const std::string stamp = stamps_.next(now_stamp());
  for (int tries = 0;; ++tries) {
    std::string base = platform::print::ticket_base_name(stamp.substr(0, 8), stamp.substr(9), ++sequence_);
    if (tries >= 1000 || !store_.holds(folder, base)) return base;
  }
}

void SpoolingPrintService::start(const std::vector<std::string>& pending_work) {
  if (started_) return;
  started_ = true;
  ledger_.start(pending_work, stamps_);
}

std::string SpoolingPrintService::new_work_id() {
  start({});
  // A clock set back to a day already filed may give the stamp of a filed
  // ticket, whose name would then pass for a ticket of this work.
  std::string stamp = stamps_.next(now_stamp());
  for (int tries = 0; tries < 1000 && store_.stamp_filed(stamp); ++tries) stamp = stamps_.next(stamp);
  return stamp;
}

void SpoolingPrintService::begin_work(std::string_view work_id) {
  start({});
  drop_staged();  // a work that never ended keeps nothing: its answer is done over
  work_ = std::string(work_id.substr(0, 17));
  stamps_.note(work_);
  job_no_ = 0;
  work_ok_ = true;
}

// The tickets of the work reach the disk, all of them before any is renamed,
// then their names; each folder is synced once. Only then are they handed
// over, in order: a ticket the spooler holds is never made again.
//
// Where the file system may be used from several threads (with a worker),
// the syncs are made side by side: the system then writes them out together
// rather than one after the other.
bool SpoolingPrintService::end_work() {
  bool ok = work_ok_;
  const bool side_by_side = options_.hand_over == HandOver::on_worker;
  std::vector<char> written(staged_.size());
  for_each_index(staged_.size(), side_by_side,
                 [&](std::size_t i) { written[i] = SpoolStore::finish(*staged_[i].file); });
  std::set<std::string> folders;
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    const Ticket& t = staged_[i].ticket;
    if (written[i] && store_.mark_kept(t.folder, t.base)) {
      folders.insert(t.folder);
      ledger_.spool_kept(t.printer);
      continue;
    }
    store_.drop_unfinished(t.folder, t.base);
    written[i] = false;
    ledger_.spool_failed(t.printer, t.order);
    ok = false;  // the work stays pending and is done again: the ticket is made then
  }
  const std::vector<std::string> synced_folders(folders.begin(), folders.end());
  std::vector<char> folder_synced(synced_folders.size());
  for_each_index(synced_folders.size(), side_by_side,
                 [&](std::size_t i) { folder_synced[i] = store_.sync_folder(synced_folders[i]); });
  ok = ok && std::all_of(folder_synced.begin(), folder_synced.end(), [](char c) { return c != 0; });
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    if (written[i]) ledger_.kept(std::move(staged_[i].ticket), std::move(staged_[i].text));
  }
  staged_.clear();
  work_.clear();
  collect();
  ledger_.update_alerts();
  return ok;
}

void SpoolingPrintService::collect() {
  for (;;) {
    const auto done = worker_.take_results();
    if (done.empty()) return;
    for (const auto& r : done) ledger_.take(r);
  }
}

void SpoolingPrintService::wait_for_hand_overs() {
  for (;;) {
    worker_.wait_until_idle();
    collect();  // may queue more: tickets sent again after a look
    if (worker_.drained()) break;
  }
  ledger_.update_alerts();
}

// At every check: what the last look at the spooler found is taken in, and
// the next look is asked for (on the worker, after the hand-overs queued
// before it).
void SpoolingPrintService::follow_up() {
  start({});
  collect();
  // The tickets an earlier run left are matched with their jobs before
  // anything new is printed (once, after a start).
  if (ledger_.follow_up()) worker_.wait_until_idle();
  collect();
  ledger_.update_alerts();
  retention_.step();
}

platform::Status SpoolingPrintService::close() {
  if (!open_) return platform::Status::kNotOpen;
  open_ = false;
  start({});

  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += platform::kLineEnd;
  }
  lines_.clear();

  const std::string printer(platform::print::printer_name(settings_.printer));
  const std::string folder = store_.folder_for(settings_.printer);

  std::string base;
  if (!work_.empty()) {
    base = work_ + "-" + record::to_digits(++job_no_, 6);
    for (const std::string& kept :
         {SpoolStore::path(folder, base, false), SpoolStore::path(folder, base, true), SpoolStore::filed_path(folder, base)}) {
      if (files_.exists(kept)) {  // kept by an earlier run: not made again
        last_ticket_ = kept;
        return platform::Status::kOk;
      }
    }
  } else {
    base = next_base_name(folder);
  }
  Ticket t{folder, base, printer, platform::print::page_setup(settings_)};
  t.order = layout_.facts(text).order;
  const std::string kept_path = SpoolStore::path(folder, base, true);

  if (!work_.empty()) {
    // Written now, kept with the other tickets of the work when it ends.
    if (auto file = store_.begin(folder, base, text)) {
      staged_.push_back(Staged{std::move(t), std::move(text), std::move(file)});
      last_ticket_ = kept_path;
      return platform::Status::kOk;
    }
    ledger_.spool_failed(printer, t.order);
    work_ok_ = false;  // the work stays pending and is done again: the ticket is printed then
    last_ticket_.clear();
    ledger_.update_alerts();
    return platform::Status::kFailed;
  }

  if (!store_.keep(folder, base, text)) {
    ledger_.spool_failed(printer, t.order);
    last_ticket_.clear();
    // Nothing would do this job again: the printer is tried all the same.
    ledger_.not_kept(std::move(t), std::move(text));
    collect();
    ledger_.update_alerts();
    return platform::Status::kFailed;
  }
  store_.sync_folder(folder);
  ledger_.spool_kept(printer);
  last_ticket_ = kept_path;
  ledger_.kept(std::move(t), std::move(text));
  collect();
  ledger_.update_alerts();
  return platform::Status::kOk;
}

std::unique_ptr<SpoolingPrintService> make_print_service(platform::FileSystem& files, platform::Clock& clock,
                                                         const platform::TicketLayout& layout, PrintReport report,
                                                         log::Alerts* board) {
  SpoolOptions options;
  options.hand_over = HandOver::on_worker;
  options.conditions = std::make_shared<PrinterConditions>();
  const settings::Settings settings = settings::read_kav_settings(files);
  const PrinterProfiles profiles(settings);
  report_profiles(profiles, report, board);
  options.profiles = profiles;
  options.sheets = std::make_shared<SheetWatch>(platform::print::make_os_outlet(), options.conditions);
  options.retention = retention_rules(settings);
  auto outlet = std::make_unique<ProfiledOutlet>(platform::print::make_os_outlet(), profiles, layout,
                                                 options.conditions, platform::print::NetLimits{}, options.sheets);
  return std::make_unique<SpoolingPrintService>(files, clock, layout, std::move(outlet), std::move(report), board,
                                                options);
}

}  // namespace kav::printing
