#include "platform/print/spooling_print_service.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <system_error>

#include "platform/file_status.h"
#include "platform/line_end.h"
#include "platform/print/spool.h"
#include "platform/text_file.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "record/digits.h"

namespace kav::platform::print {

namespace {

// How far an odd printer name may reach into a log line.
std::string shown(std::string_view name) { return record::blank_controls(printer_name(name)); }

std::string_view reason(Outcome outcome) {
  switch (outcome) {
    case Outcome::unknown_printer: return "inexistente";
    case Outcome::refused: return "recusado";
    case Outcome::aborted: return "abortado";
    case Outcome::stopped: return "parado";
    default: return "falha de envio";
  }
}

std::string read_all(FileSystem& files, std::string_view path, std::string& status) {
  TextFile file(files);
  status = file.open(path, OpenMode::input);
  std::string text;
  if (status != status::ok) return text;
  char c = 0;
  while (file.read_char(c) == status::ok) text += c;
  file.close();
  return text;
}

bool same_printer(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// Printers compare without regard to case, as the spoolers do.
std::string key_of(std::string_view printer) {
  std::string k(printer_name(printer));
  for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return k;
}

std::string marked_name(std::string_view base) {
  return std::string(base) + std::string(kNotDeliveredMark) + std::string(kTicketExtension);
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

std::string job_title(std::string_view base, std::string_view spool_root_host) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (char c : spool_root_host) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  char tag[16];
  std::snprintf(tag, sizeof tag, "%06x", static_cast<unsigned>(h & 0xFFFFFFu));
  return std::string(base) + "@" + tag;
}

bool read_ticket(FileSystem& files, std::string_view path, std::string& text) {
  std::string st;
  text = read_all(files, path, st);
  return st == status::ok;
}

SpoolingPrintService::SpoolingPrintService(FileSystem& files, Clock& clock, const TicketLayout& layout,
                                           std::unique_ptr<PrinterOutlet> outlet, PrintReport report,
                                           PrintAlert alert, SpoolOptions options)
    : files_(files),
      clock_(clock),
      layout_(layout),
      outlet_(std::move(outlet)),
      report_(std::move(report)),
      alert_(std::move(alert)),
      options_(options) {
  if (options_.hand_over == HandOver::on_worker) worker_ = std::thread([this] { worker_loop(); });
}

SpoolingPrintService::~SpoolingPrintService() {
  if (open_) close();  // a job left open is still a ticket
  // A work that did not end keeps nothing: its answer is done over.
  for (auto& staged : staged_) {
    staged.file->close();
    files_.remove(staged.ticket.folder + "\\" + staged.ticket.base + std::string(kUnfinishedExtension));
  }
  staged_.clear();
  if (worker_.joinable()) {
    {
      const std::lock_guard lock(queue_mutex_);
      stopping_ = true;
    }
    queue_cv_.notify_all();
    worker_.join();  // what is queued is handed over first
  }
  // The log hears of the last hand-overs; the alert board may be gone, and
  // a look is not taken in any more.
  for (const auto& r : results_) {
    if (!r.look) take_hand_over(r.handed);
  }
  results_.clear();
}

std::string SpoolingPrintService::open(std::string_view print_form, std::string_view printer_info_path) {
  if (open_) close();
  if (!layout_.is_form(print_form)) return std::string(status::bad_file);
  std::string st;
  const std::string text = read_all(files_, printer_info_path, st);
  settings_ = parse_printer_info(text);
  made_at_ = now_stamp();
  lines_.clear();
  open_ = true;
  return st == status::ok ? st : std::string(status::not_found);
}

std::string SpoolingPrintService::write(std::string_view group, std::string_view print_record) {
  if (!open_) return std::string(status::write_not_open);
  auto lines = layout_.lines(group, print_record, made_at_);
  if (!lines) return std::string(status::no_record);
  for (auto& line : *lines) lines_.push_back(std::move(line));
  return std::string(status::ok);
}

std::string SpoolingPrintService::now_stamp() { return stamp_now(clock_); }

std::string SpoolingPrintService::next_base_name(const std::string& folder) {
  std::string stamp = now_stamp();
  if (stamp < last_stamp_) stamp = last_stamp_;  // the clock went back: keep the order of the names
  if (!work_floor_.empty() && stamp <= work_floor_) stamp = next_stamp(work_floor_);
  last_stamp_ = stamp;
  for (int tries = 0;; ++tries) {
    std::string base = ticket_base_name(stamp.substr(0, 8), stamp.substr(9), ++sequence_);
    const std::string path = folder + "\\" + base;
    if (tries >= 1000 || (!files_.exists(path + std::string(kTicketExtension)) &&
                          !files_.exists(path + std::string(kNotDeliveredMark) + std::string(kTicketExtension)))) {
      return base;
    }
  }
}

bool SpoolingPrintService::keep(const std::string& tmp, const std::string& path, const std::string& text) {
  std::unique_ptr<File> file;
  if (files_.open(tmp, OpenMode::output, file) != status::ok) return false;
  const bool written = file->write(text) && file->sync();
  const bool closed = file->close();
  if (written && closed && files_.rename(tmp, path)) return true;
  files_.remove(tmp);
  return false;
}

void SpoolingPrintService::report(std::string_view text) {
  if (report_) report_(text);
}

std::string SpoolingPrintService::path_of(const Ticket& t, bool marked) const {
  return t.folder + "\\" + (marked ? marked_name(t.base) : t.base + std::string(kTicketExtension));
}

void SpoolingPrintService::start(const std::vector<std::string>& pending_work) {
  if (started_) return;
  started_ = true;
  root_host_ = files_.host_path(kSpoolRoot);
  for (const auto& id : pending_work) last_stamp_ = std::max(last_stamp_, id.substr(0, 17));

  std::vector<std::string> folders = files_.list(kSpoolRoot, true);
  std::sort(folders.begin(), folders.end());
  for (const auto& folder_name : folders) {
    const std::string folder = std::string(kSpoolRoot) + "\\" + folder_name;
    const std::string printer = printer_of_folder(folder_name);
    std::vector<std::string> names = files_.list(folder, false);
    std::sort(names.begin(), names.end());
    std::set<std::string> kept;
    for (const auto& name : names) {
      const SpoolEntry e = classify_spool_file(name);
      if (e.kind == SpoolEntry::Kind::printed || e.kind == SpoolEntry::Kind::undelivered) kept.insert(e.base);
    }
    for (const auto& name : names) {
      const SpoolEntry e = classify_spool_file(name);
      if (e.kind == SpoolEntry::Kind::other) continue;
      if (stamp_centis(e.base)) last_stamp_ = std::max(last_stamp_, e.base.substr(0, 17));
      if (e.kind == SpoolEntry::Kind::unfinished) {
        const bool redone = std::any_of(pending_work.begin(), pending_work.end(), [&](const std::string& id) {
          return e.base.starts_with(id.substr(0, 17) + "-");
        });
        if (redone || kept.contains(e.base)) {
          files_.remove(folder + "\\" + name);  // the work is done over, or the ticket was kept after all
        } else {
          report("Ticket incompleto no Spool: " + shown(folder_name) + "\\" + name + " !!!");
        }
      } else if (e.kind == SpoolEntry::Kind::undelivered && !printer.empty()) {
        Ticket t{folder, e.base, printer};
        t.from_earlier_run = true;
        tickets_.push_back(std::move(t));
      }
    }
  }
}

std::string SpoolingPrintService::new_work_id() {
  start({});
  std::string stamp = now_stamp();
  if (stamp <= last_stamp_) stamp = next_stamp(last_stamp_);
  last_stamp_ = stamp;
  return stamp;
}

void SpoolingPrintService::begin_work(std::string_view work_id) {
  start({});
  for (auto& staged : staged_) {  // a work that never ended keeps nothing: its answer is done over
    staged.file->close();
    files_.remove(staged.ticket.folder + "\\" + staged.ticket.base + std::string(kUnfinishedExtension));
  }
  staged_.clear();
  work_ = std::string(work_id.substr(0, 17));
  work_floor_ = std::max(work_floor_, work_);
  last_stamp_ = std::max(last_stamp_, work_);
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
  for_each_index(staged_.size(), side_by_side, [&](std::size_t i) {
    const bool synced = staged_[i].file->sync();
    written[i] = staged_[i].file->close() && synced;
  });
  std::set<std::string> folders;
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    const Ticket& t = staged_[i].ticket;
    const std::string tmp = t.folder + "\\" + t.base + std::string(kUnfinishedExtension);
    if (written[i] && files_.rename(tmp, path_of(t, true))) {
      folders.insert(t.folder);
      spool_failed_.erase(key_of(t.printer));
      continue;
    }
    files_.remove(tmp);
    written[i] = false;
    spool_failure(t.printer);
    ok = false;  // the work stays pending and is done again: the ticket is made then
  }
  const std::vector<std::string> synced_folders(folders.begin(), folders.end());
  std::vector<char> folder_synced(synced_folders.size());
  for_each_index(synced_folders.size(), side_by_side,
                 [&](std::size_t i) { folder_synced[i] = files_.sync_directory(synced_folders[i]); });
  ok = ok && std::all_of(folder_synced.begin(), folder_synced.end(), [](char c) { return c != 0; });
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    if (written[i]) kept(std::move(staged_[i].ticket), std::move(staged_[i].text));
  }
  staged_.clear();
  work_.clear();
  collect();
  update_alerts();
  return ok;
}

std::string SpoolingPrintService::job_note(const Ticket& t) const { return t.folder + "\\" + t.base + ".job"; }

void SpoolingPrintService::settle_printed(const Ticket& t) {
  const bool renamed = files_.rename(path_of(t, true), path_of(t, false));
  files_.remove(job_note(t));
  if (renamed && t.troubled) {
    report("Impresso em " + shown(t.printer) + ": " + t.base + std::string(kTicketExtension));
  }
}

bool SpoolingPrintService::expired(const Ticket& t) {
  const auto made = stamp_centis(t.base);
  const auto now = stamp_centis(now_stamp());
  if (!made || !now) return true;
  return *now - *made > static_cast<std::int64_t>(options_.redelivery_limit.count()) * 6000;
}

bool SpoolingPrintService::in_flight_for(std::string_view printer) const {
  return std::any_of(tickets_.begin(), tickets_.end(),
                     [&](const Ticket& t) { return t.in_flight && same_printer(t.printer, printer); });
}

// A ticket never passes the undelivered tickets of its printer.
bool SpoolingPrintService::waits_behind(std::string_view printer) {
  return std::any_of(tickets_.begin(), tickets_.end(), [&](const Ticket& t) {
    return t.job == 0 && !t.in_flight && same_printer(t.printer, printer) && !expired(t);
  });
}

void SpoolingPrintService::spool_failure(std::string_view printer) {
  const std::string text =
      "Falha ao gravar Spool de " + (printer.empty() ? std::string("(sem impressora)") : shown(printer)) + " !!!";
  report(text);
  spool_failed_[key_of(printer)] = text;
}

// A ticket kept in the spool: handed over, or left to wait for its printer.
void SpoolingPrintService::kept(Ticket t, std::string text) {
  if (t.printer.empty()) {
    report(record::cp1252("Não impresso, sem impressora: ") + marked_name(t.base) + " !!!");
    return;
  }
  if (waits_behind(t.printer)) {
    t.troubled = true;
    t.outcome = Outcome::stopped;
    report(record::cp1252("Não impresso em ") + shown(t.printer) + " (" + std::string(reason(t.outcome)) +
           "): " + marked_name(t.base) + " !!!");
    tickets_.push_back(std::move(t));
    return;
  }
  const bool nothing_on_its_way = !in_flight_for(t.printer);
  t.in_flight = true;
  tickets_.push_back(t);
  queue_hand_over(Job{std::move(t), std::move(text), false, true}, nothing_on_its_way);
}

void SpoolingPrintService::queue_hand_over(Job job, bool nothing_on_its_way) {
  job.check = check_;
  Task task;
  task.job = std::move(job);
  if (nothing_on_its_way) {
    // A failure of this printer no longer holds back what follows once
    // nothing of it is on its way.
    const std::lock_guard lock(queue_mutex_);
    blocked_.erase(key_of(task.job.ticket.printer));
  }
  queue_task(std::move(task));
}

void SpoolingPrintService::queue_task(Task task) {
  if (options_.hand_over == HandOver::in_caller) {
    Result r = perform(task);
    const std::lock_guard lock(queue_mutex_);
    results_.push_back(std::move(r));
    return;
  }
  {
    const std::lock_guard lock(queue_mutex_);
    queue_.push_back(std::move(task));
  }
  queue_cv_.notify_one();
}

void SpoolingPrintService::worker_loop() {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(queue_mutex_);
      queue_cv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and everything queued was done
      task = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    Result r = perform(task);
    {
      const std::lock_guard lock(queue_mutex_);
      results_.push_back(std::move(r));
      busy_ = false;
      if (queue_.empty()) idle_cv_.notify_all();
    }
  }
}

void SpoolingPrintService::wait_until_idle() {
  if (!worker_.joinable()) return;
  std::unique_lock lock(queue_mutex_);
  idle_cv_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

void SpoolingPrintService::wait_for_hand_overs() {
  for (;;) {
    wait_until_idle();
    collect();  // may queue more: tickets sent again after a look
    const std::lock_guard lock(queue_mutex_);
    if (queue_.empty() && results_.empty()) break;
  }
  update_alerts();
}

// On the worker (or in the caller): the spooler's side of a task. Only here
// is the outlet used.
SpoolingPrintService::Result SpoolingPrintService::perform(const Task& task) {
  Result r;
  if (task.look) {
    r.look = true;
    r.looked.reachable = outlet_->refresh(task.request.job_printers, task.request.first_job);
    looked_check_ = task.request.check;
    reachable_ = r.looked.reachable;
    if (!r.looked.reachable) return r;
    r.looked.jobs = outlet_->jobs();
    for (const auto& p : task.request.printers) r.looked.printers[key_of(p)] = outlet_->printer(p);
    for (const auto& [printer, id] : task.request.ask) {
      const bool listed = std::any_of(r.looked.jobs.begin(), r.looked.jobs.end(), [&](const JobInfo& j) {
        return j.id == id && same_printer(j.printer, printer);
      });
      if (!listed) r.looked.asked.push_back({printer, id, outlet_->job(printer, id)});
    }
    name_jobs(task.request.titles, r.looked.jobs);
    return r;
  }

  const Job& job = task.job;
  const Ticket& t = job.ticket;
  Handed& h = r.handed;
  h = Handed{t.folder, t.base, Delivery{Outcome::stopped, 0, "waiting behind an earlier ticket"}, job.redelivery,
             false};
  const std::string key = key_of(t.printer);
  {
    const std::lock_guard lock(queue_mutex_);
    if (blocked_.contains(key)) return r;
  }
  h.attempted = true;
  if (looked_check_ != job.check) {  // one look at the printers per check
    reachable_ = outlet_->refresh({}, 0);
    looked_check_ = job.check;
  }
  switch (outlet_->printer(t.printer)) {
    case PrinterState::unknown:
      h.delivery = Delivery{reachable_ ? Outcome::unknown_printer : Outcome::failed, 0, {}};
      break;
    case PrinterState::stopped: h.delivery = Delivery{Outcome::stopped, 0, {}}; break;
    case PrinterState::ready:
      h.delivery = outlet_->submit(TicketJob{t.printer, job_title(t.base, root_host_), t.page}, job.text);
      break;
  }
  if (!h.delivery.delivered()) {
    const std::lock_guard lock(queue_mutex_);
    blocked_.insert(key);  // what is queued behind it for this printer waits
  } else if (job.kept) {
    // The job's number beside the ticket, for a spooler that forgets
    // finished jobs (Windows): after a crash a ticket with a job note whose
    // job has left the queue was printed.
    std::unique_ptr<File> note;
    if (files_.open(job_note(t), OpenMode::output, note) == status::ok) {
      note->write(std::to_string(h.delivery.job_id));
      note->close();
    }
  }
  return r;
}

// Asks for the names of jobs listed without one, newest first, until every
// name in `wanted` has been found or no such job is left.
void SpoolingPrintService::name_jobs(std::set<std::string> wanted, std::vector<JobInfo>& jobs) {
  for (const auto& j : jobs) wanted.erase(j.title);
  if (wanted.empty()) return;
  std::vector<JobInfo*> unnamed;
  for (auto& j : jobs) {
    if (j.title.empty()) unnamed.push_back(&j);
  }
  std::sort(unnamed.begin(), unnamed.end(), [](const JobInfo* a, const JobInfo* b) { return a->id > b->id; });
  for (JobInfo* j : unnamed) {
    if (wanted.empty()) return;
    j->title = outlet_->job_name(j->id);
    wanted.erase(j->title);
  }
}

// Takes in, in order, what the worker did: hand-overs and looks.
void SpoolingPrintService::collect() {
  for (;;) {
    std::vector<Result> done;
    {
      const std::lock_guard lock(queue_mutex_);
      done.swap(results_);
    }
    if (done.empty()) return;
    for (auto& r : done) {
      if (r.look) {
        look_pending_ = false;
        apply_look(r.looked);
      } else {
        take_hand_over(r.handed);
      }
    }
  }
}

void SpoolingPrintService::take_hand_over(const Handed& h) {
  const auto it = std::find_if(tickets_.begin(), tickets_.end(),
                               [&](const Ticket& t) { return t.base == h.base && t.folder == h.folder; });
  if (it == tickets_.end()) return;  // a ticket the spool could not keep, tried all the same
  Ticket& t = *it;
  t.in_flight = false;
  if (h.redelivery && h.attempted) report("Reenviando " + marked_name(t.base) + " para " + shown(t.printer) + " ...");
  if (h.delivery.delivered()) {
    t.job = h.delivery.job_id;
    highest_job_ = std::max(highest_job_, t.job);
    return;
  }
  t.troubled = true;
  t.outcome = h.delivery.outcome;
  if (h.attempted || !h.redelivery) {
    report(record::cp1252("Não impresso em ") + shown(t.printer) + " (" + std::string(reason(t.outcome)) +
           "): " + marked_name(t.base) + " !!!");
  }
}

// The alerts follow what waits: a printer with tickets it did not take, a
// printer with tickets too old to be sent by themselves, a spool folder that
// could not keep a ticket.
void SpoolingPrintService::update_alerts() {
  if (!alert_) return;
  struct Waiting {
    std::string printer;
    int undelivered = 0;
    int old = 0;
    Outcome outcome = Outcome::failed;
  };
  std::map<std::string, Waiting> by_printer;
  for (const auto& t : tickets_) {
    // A ticket on its way for the first time is not late yet; one sent
    // again is, until the spooler has taken it.
    if (t.job != 0 || t.from_earlier_run || (t.in_flight && !t.troubled)) continue;
    Waiting& w = by_printer[key_of(t.printer)];
    w.printer = t.printer;
    if (expired(t)) {
      ++w.old;
    } else if (w.undelivered++ == 0) {
      w.outcome = t.outcome;  // the first in line is the one tried
    }
  }
  std::map<std::string, std::string> up;
  for (const auto& [key, w] : by_printer) {
    if (w.undelivered > 0) {
      up["impressao-pendente:" + key] = "Impressora " + shown(w.printer) + record::cp1252(" não recebeu tickets (") +
                                        std::string(reason(w.outcome)) + record::cp1252("); reenvio automático");
    }
    if (w.old > 0) {
      up["impressao-antiga:" + key] = "Impressora " + shown(w.printer) + ": tickets com mais de " +
                                      std::to_string(options_.redelivery_limit.count()) +
                                      record::cp1252(" min não impressos; use kav-spool");
    }
  }
  for (const auto& [key, text] : spool_failed_) up["impressao-spool:" + key] = text;
  for (const auto& [key, text] : alerts_up_) {
    if (!up.contains(key)) alert_(key, {});
  }
  for (const auto& [key, text] : up) {
    const auto it = alerts_up_.find(key);
    if (it == alerts_up_.end() || it->second != text) alert_(key, text);
  }
  alerts_up_ = std::move(up);
}

// At every check: what the last look at the spooler found is taken in, and
// the next look is asked for (on the worker, after the hand-overs queued
// before it).
void SpoolingPrintService::follow_up() {
  start({});
  collect();
  ++check_;  // a new check: the printers are looked at again
  if (!tickets_.empty() && !look_pending_) {
    Task task;
    task.look = true;
    LookRequest& q = task.request;
    q.check = check_;
    bool all = false;
    for (const auto& t : tickets_) {
      q.printers.insert(t.printer);
      if (t.in_flight || (t.job == 0 && !t.from_earlier_run)) continue;
      // Only the jobs from the oldest one followed on; all of them while
      // tickets of an earlier run are still to be matched with theirs.
      q.job_printers.insert(t.printer);
      all = all || t.from_earlier_run;
      if (t.from_earlier_run) q.titles.insert(job_title(t.base, root_host_));
      if (t.job != 0) {
        q.ask.emplace_back(t.printer, t.job);
        if (q.first_job == 0 || t.job < q.first_job) q.first_job = t.job;
      }
    }
    // Tickets on their way get their job numbers before the look is made.
    const auto on_its_way = std::any_of(tickets_.begin(), tickets_.end(), [](const Ticket& t) { return t.in_flight; });
    if (on_its_way) {
      for (const auto& t : tickets_) {
        if (t.in_flight) q.job_printers.insert(t.printer);
      }
      // (their numbers follow the highest one known)
      if (q.first_job == 0 && highest_job_ != 0) q.first_job = highest_job_ + 1;
    }
    if (all) q.first_job = 0;
    look_pending_ = true;
    queue_task(std::move(task));
    // The tickets an earlier run left are matched with their jobs before
    // anything new is printed (once, after a start): a new ticket waits
    // only behind tickets that really were not delivered.
    if (all) wait_until_idle();
  }
  collect();
  update_alerts();
}

// What one look found: tickets their printer finished lose their mark,
// failed jobs and tickets never handed over are sent again.
void SpoolingPrintService::apply_look(const Looked& look) {
  if (!look.reachable) return;
  const auto state_of_job = [&](const Ticket& t, bool& known) {
    known = true;
    for (const auto& j : look.jobs) {
      if (j.id == t.job && same_printer(j.printer, t.printer)) return j.state;
    }
    for (const auto& a : look.asked) {
      if (a.id == t.job && same_printer(a.printer, t.printer)) return a.state;
    }
    known = false;  // handed over after the look was asked for
    return JobState::pending;
  };

  // Jobs handed over: finished, failed, or still under way. A ticket found
  // at start is matched with its job by name. A ticket on its way to the
  // spooler is left alone.
  std::vector<Ticket> still;
  for (auto& t : tickets_) {
    if (t.in_flight) {
      still.push_back(std::move(t));
      continue;
    }
    if (t.from_earlier_run) {
      t.from_earlier_run = false;
      const std::string title = job_title(t.base, root_host_);
      for (const auto& j : look.jobs) {
        if (j.title == title && same_printer(j.printer, t.printer)) t.job = j.id;  // the latest one counts
      }
      std::string note;
      if (t.job == 0 && read_ticket(files_, job_note(t), note)) {
        t.job = static_cast<int>(record::digits_value(note.substr(0, 9)));
      }
      if (t.job != 0) {
        // Found now: its state is that of the look, or, for a job noted
        // and no longer listed, gone.
        bool known = false;
        const JobState state = state_of_job(t, known);
        if (!known || state == JobState::completed) {
          settle_printed(t);
          continue;
        }
      }
    }
    if (t.job != 0) {
      bool known = false;
      const JobState state = state_of_job(t, known);
      if (known && (state == JobState::completed || state == JobState::gone)) {
        settle_printed(t);
        continue;
      }
      if (known && state == JobState::aborted) {
        report(record::cp1252("Não impresso em ") + shown(t.printer) + " (abortado): " + marked_name(t.base) +
               " !!!");
        t.job = 0;
        t.troubled = true;
        t.outcome = Outcome::aborted;
      }
    }
    if (t.job == 0 && !files_.exists(path_of(t, true))) continue;  // settled or removed by hand
    still.push_back(std::move(t));
  }
  tickets_ = std::move(still);

  // Redelivery, in order, printer by printer; a printer that fails once is
  // left for the next check, and so is one with tickets still on their way.
  std::set<std::string> blocked;
  for (const auto& t : tickets_) {
    if (t.in_flight) blocked.insert(key_of(t.printer));
  }
  {
    const std::lock_guard lock(queue_mutex_);
    for (auto it = blocked_.begin(); it != blocked_.end();) {
      it = blocked.contains(*it) ? std::next(it) : blocked_.erase(it);
    }
  }
  std::set<std::string> gone;
  for (auto& t : tickets_) {
    if (t.job != 0 || t.in_flight) continue;
    const std::string key = key_of(t.printer);
    if (blocked.contains(key)) continue;
    const auto seen = look.printers.find(key);
    if (seen == look.printers.end()) continue;  // a printer new since the look was asked for
    bool failed_just_now = false;
    {
      const std::lock_guard lock(queue_mutex_);
      failed_just_now = blocked_.contains(key);
    }
    if (seen->second != PrinterState::ready || failed_just_now) {
      if (seen->second != PrinterState::ready) {
        t.outcome = seen->second == PrinterState::stopped ? Outcome::stopped : Outcome::unknown_printer;
      }
      blocked.insert(key);
      continue;
    }
    if (expired(t)) {
      if (!t.expiry_reported) {
        report(record::cp1252("Não reenviado, mais de ") + std::to_string(options_.redelivery_limit.count()) +
               " min: " + shown(t.printer) + "\\" + marked_name(t.base) + " !!!");
        t.expiry_reported = true;
      }
      continue;
    }
    std::string text;
    if (!read_ticket(files_, path_of(t, true), text)) {  // settled or removed by hand
      gone.insert(t.folder + "\\" + t.base);
      continue;
    }
    t.troubled = true;
    t.in_flight = true;
    queue_hand_over(Job{t, std::move(text), true, true}, false);
  }
  std::erase_if(tickets_, [&](const Ticket& t) { return gone.contains(t.folder + "\\" + t.base); });
}

std::string SpoolingPrintService::close() {
  if (!open_) return std::string(status::not_open);
  open_ = false;
  start({});

  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += kLineEnd;
  }
  lines_.clear();

  const std::string printer(printer_name(settings_.printer));
  const std::string folder = std::string(kSpoolRoot) + "\\" + spool_folder_name(settings_.printer);
  files_.create_directory(kSpoolRoot);
  files_.create_directory(folder);

  std::string base;
  if (!work_.empty()) {
    base = work_ + "-" + record::to_digits(++job_no_, 6);
    for (const bool marked : {false, true}) {
      const std::string path = folder + "\\" + (marked ? marked_name(base) : base + std::string(kTicketExtension));
      if (files_.exists(path)) {  // kept by an earlier run: not made again
        last_ticket_ = path;
        return std::string(status::ok);
      }
    }
  } else {
    base = next_base_name(folder);
  }
  Ticket t{folder, base, printer, page_setup(settings_)};
  const std::string tmp = folder + "\\" + base + std::string(kUnfinishedExtension);
  const std::string kept_path = folder + "\\" + marked_name(base);

  if (!work_.empty()) {
    // Written now, kept with the other tickets of the work when it ends.
    std::unique_ptr<File> file;
    if (files_.open(tmp, OpenMode::output, file) == status::ok && file->write(text)) {
      staged_.push_back(Staged{std::move(t), std::move(text), std::move(file)});
      last_ticket_ = kept_path;
      return std::string(status::ok);
    }
    if (file) file->close();
    files_.remove(tmp);
    spool_failure(printer);
    work_ok_ = false;  // the work stays pending and is done again: the ticket is printed then
    last_ticket_.clear();
    update_alerts();
    return std::string(status::failed);
  }

  if (!keep(tmp, kept_path, text)) {
    spool_failure(printer);
    last_ticket_.clear();
    // Nothing would do this job again: the printer is tried all the same.
    if (!printer.empty()) queue_hand_over(Job{std::move(t), std::move(text), false, false}, !in_flight_for(printer));
    collect();
    update_alerts();
    return std::string(status::failed);
  }
  files_.sync_directory(folder);
  spool_failed_.erase(key_of(printer));
  last_ticket_ = kept_path;
  kept(std::move(t), std::move(text));
  collect();
  update_alerts();
  return std::string(status::ok);
}

}  // namespace kav::platform::print

namespace kav::platform {

std::unique_ptr<PrintService> make_print_service(FileSystem& files, Clock& clock, const TicketLayout& layout,
                                                 PrintReport report, PrintAlert alert) {
  print::SpoolOptions options;
  options.hand_over = print::HandOver::on_worker;
  return std::make_unique<print::SpoolingPrintService>(files, clock, layout, print::make_os_outlet(),
                                                       std::move(report), std::move(alert), options);
}

}  // namespace kav::platform
