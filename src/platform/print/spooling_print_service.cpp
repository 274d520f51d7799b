#include "platform/print/spooling_print_service.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

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

std::string marked_name(std::string_view base) {
  return std::string(base) + std::string(kNotDeliveredMark) + std::string(kTicketExtension);
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
                                           std::chrono::minutes redelivery_limit)
    : files_(files),
      clock_(clock),
      layout_(layout),
      outlet_(std::move(outlet)),
      report_(std::move(report)),
      limit_(redelivery_limit) {}

SpoolingPrintService::~SpoolingPrintService() {
  if (open_) close();  // a job left open is still a ticket
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
        tickets_.push_back(Ticket{folder, e.base, printer, {}, 0, false, true, false});
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
  work_ = std::string(work_id.substr(0, 17));
  work_floor_ = std::max(work_floor_, work_);
  last_stamp_ = std::max(last_stamp_, work_);
  job_no_ = 0;
  work_ok_ = true;
  touched_.clear();
}

bool SpoolingPrintService::end_work() {
  bool ok = work_ok_;
  for (const auto& folder : touched_) ok = files_.sync_directory(folder) && ok;
  touched_.clear();
  work_.clear();
  return ok;
}

void SpoolingPrintService::look() {
  if (fresh_) return;
  // Only the jobs from the oldest one followed on; all of them while tickets
  // of an earlier run are still to be matched with theirs.
  std::set<std::string> job_printers;
  int first_job = 0;
  bool all = false;
  for (const auto& t : tickets_) {
    if (t.job == 0 && !t.from_earlier_run) continue;
    job_printers.insert(t.printer);
    all = all || t.from_earlier_run;
    if (t.job != 0 && (first_job == 0 || t.job < first_job)) first_job = t.job;
  }
  reachable_ = outlet_->refresh(job_printers, all ? 0 : first_job);
  fresh_ = true;
}

bool SpoolingPrintService::expired(const Ticket& t) {
  const auto made = stamp_centis(t.base);
  const auto now = stamp_centis(now_stamp());
  if (!made || !now) return true;
  return *now - *made > static_cast<std::int64_t>(limit_.count()) * 6000;
}

Delivery SpoolingPrintService::hand_over(Ticket& t, std::string_view text) {
  look();
  switch (outlet_->printer(t.printer)) {
    case PrinterState::unknown:
      return Delivery{reachable_ ? Outcome::unknown_printer : Outcome::failed, 0, {}};
    case PrinterState::stopped: return Delivery{Outcome::stopped, 0, {}};
    case PrinterState::ready: break;
  }
  Delivery d = outlet_->submit(TicketJob{t.printer, job_title(t.base, root_host_), t.page}, text);
  if (d.delivered()) {
    t.job = d.job_id;
    // The job's number beside the ticket, for a spooler that forgets
    // finished jobs (Windows): after a crash a ticket with a job note whose
    // job has left the queue was printed.
    std::unique_ptr<File> note;
    if (files_.open(job_note(t), OpenMode::output, note) == status::ok) {
      note->write(std::to_string(d.job_id));
      note->close();
    }
  }
  return d;
}

std::string SpoolingPrintService::job_note(const Ticket& t) const { return t.folder + "\\" + t.base + ".job"; }

void SpoolingPrintService::settle_printed(const Ticket& t) {
  const bool renamed = files_.rename(path_of(t, true), path_of(t, false));
  files_.remove(job_note(t));
  if (renamed && t.troubled) {
    report("Impresso em " + shown(t.printer) + ": " + t.base + std::string(kTicketExtension));
  }
}

void SpoolingPrintService::follow_up() {
  start({});
  fresh_ = false;  // a new check: the printers are looked at again
  if (tickets_.empty()) return;
  look();
  if (!reachable_) return;

  // Jobs handed over: finished, failed, or still under way. A ticket found
  // at start is matched with its job by name.
  const auto& jobs = outlet_->jobs();
  std::vector<Ticket> still;
  for (auto& t : tickets_) {
    if (t.from_earlier_run) {
      t.from_earlier_run = false;
      const std::string title = job_title(t.base, root_host_);
      for (const auto& j : jobs) {
        if (j.title == title && same_printer(j.printer, t.printer)) t.job = j.id;  // the latest one counts
      }
      std::string note;
      if (t.job == 0 && read_ticket(files_, job_note(t), note)) {
        t.job = static_cast<int>(record::digits_value(note.substr(0, 9)));
      }
    }
    if (t.job != 0) {
      JobState state = JobState::gone;
      bool listed = false;
      for (const auto& j : jobs) {
        if (j.id == t.job && same_printer(j.printer, t.printer)) {
          state = j.state;
          listed = true;
        }
      }
      if (!listed) state = outlet_->job(t.printer, t.job);
      if (state == JobState::completed || state == JobState::gone) {
        settle_printed(t);
        continue;
      }
      if (state == JobState::aborted) {
        report(record::cp1252("Não impresso em ") + shown(t.printer) + " (abortado): " + marked_name(t.base) +
               " !!!");
        t.job = 0;
        t.troubled = true;
      }
    }
    still.push_back(std::move(t));
  }
  tickets_ = std::move(still);

  // Redelivery, in order, printer by printer; a printer that fails once is
  // left for the next check.
  std::set<std::string> blocked;
  std::vector<Ticket> kept;
  for (auto& t : tickets_) {
    if (t.job != 0 || blocked.contains(t.printer)) {
      kept.push_back(std::move(t));
      continue;
    }
    if (outlet_->printer(t.printer) != PrinterState::ready) {
      blocked.insert(t.printer);
      kept.push_back(std::move(t));
      continue;
    }
    if (expired(t)) {
      if (!t.expiry_reported) {
        report(record::cp1252("Não reenviado, mais de ") + std::to_string(limit_.count()) + " min: " +
               shown(t.printer) + "\\" + marked_name(t.base) + " !!!");
        t.expiry_reported = true;
      }
      kept.push_back(std::move(t));
      continue;
    }
    std::string text;
    if (!read_ticket(files_, path_of(t, true), text)) continue;  // settled or removed by hand
    report("Reenviando " + marked_name(t.base) + " para " + shown(t.printer) + " ...");
    t.troubled = true;
    const Delivery d = hand_over(t, text);
    if (!d.delivered()) {
      report(record::cp1252("Não impresso em ") + shown(t.printer) + " (" + std::string(reason(d.outcome)) +
             "): " + marked_name(t.base) + " !!!");
      blocked.insert(t.printer);
    }
    kept.push_back(std::move(t));
  }
  tickets_ = std::move(kept);
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
        last_delivery_ = Delivery{Outcome::accepted, 0, "kept before"};
        return std::string(status::ok);
      }
    }
  } else {
    base = next_base_name(folder);
  }
  const std::string kept = folder + "\\" + marked_name(base);
  const bool spooled = keep(folder + "\\" + base + std::string(kUnfinishedExtension), kept, text);
  last_ticket_ = spooled ? kept : std::string();

  if (!spooled) {
    report("Falha ao gravar Spool de " + (printer.empty() ? std::string("(sem impressora)") : shown(printer)) +
           " !!!");
    if (!work_.empty()) {
      work_ok_ = false;  // the work stays pending and is done again: the ticket is printed then
      last_delivery_ = Delivery{Outcome::failed, 0, "not kept"};
    } else {
      // Nothing would do this job again: the printer is tried all the same.
      Ticket t{folder, base, printer, page_setup(settings_), 0, false, false, false};
      last_delivery_ = printer.empty() ? Delivery{Outcome::no_printer, 0, {}} : hand_over(t, text);
    }
    return std::string(status::failed);
  }
  touched_.insert(folder);
  if (work_.empty()) files_.sync_directory(folder);

  if (printer.empty()) {
    last_delivery_ = Delivery{Outcome::no_printer, 0, {}};
    report(record::cp1252("Não impresso, sem impressora: ") + marked_name(base) + " !!!");
    return std::string(status::ok);
  }

  Ticket t{folder, base, printer, page_setup(settings_), 0, false, false, false};
  // A ticket never passes the undelivered tickets of its printer.
  const bool queued_behind = std::any_of(tickets_.begin(), tickets_.end(), [&](const Ticket& o) {
    return o.job == 0 && same_printer(o.printer, printer) && !expired(o);
  });
  last_delivery_ = queued_behind ? Delivery{Outcome::stopped, 0, "waiting behind earlier tickets"} : hand_over(t, text);
  if (!last_delivery_.delivered()) {
    t.troubled = true;
    report(record::cp1252("Não impresso em ") + shown(printer) + " (" + std::string(reason(last_delivery_.outcome)) +
           "): " + marked_name(base) + " !!!");
  }
  tickets_.push_back(std::move(t));
  return std::string(status::ok);
}

}  // namespace kav::platform::print

namespace kav::platform {

std::unique_ptr<PrintService> make_print_service(FileSystem& files, Clock& clock, const TicketLayout& layout,
                                                 PrintReport report) {
  return std::make_unique<print::SpoolingPrintService>(files, clock, layout, print::make_os_outlet(),
                                                       std::move(report));
}

}  // namespace kav::platform
