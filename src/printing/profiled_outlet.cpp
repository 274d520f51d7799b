#include "printing/profiled_outlet.h"

#include "platform/print/spool_store.h"
#include "record/cp1252.h"
#include "settings/kav_settings.h"

namespace kav::printing {

using platform::print::Delivery;
using platform::print::JobState;
using platform::print::NetResult;
using platform::print::NetState;
using platform::print::Outcome;
using platform::print::PrinterState;
using platform::print::printer_key;
using platform::print::TicketJob;

void PrinterConditions::set(const Condition& c) {
  const std::lock_guard lock(mutex_);
  const std::string key = printer_key(c.printer);
  const auto it = now_.find(key);
  const NetState before = it == now_.end() ? NetState::ready : it->second.state;
  now_[key] = c;
  if (before != c.state) changes_.push_back(c);
}

std::vector<PrinterConditions::Condition> PrinterConditions::take_changes() {
  const std::lock_guard lock(mutex_);
  std::vector<Condition> out;
  out.swap(changes_);
  return out;
}

std::vector<PrinterConditions::Condition> PrinterConditions::troubled() const {
  const std::lock_guard lock(mutex_);
  std::vector<Condition> out;
  for (const auto& [key, c] : now_) {
    if (c.state != NetState::ready) out.push_back(c);
  }
  return out;
}

void PrinterConditions::note(std::string line) {
  const std::lock_guard lock(mutex_);
  notes_.push_back(std::move(line));
}

std::vector<std::string> PrinterConditions::take_notes() {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  out.swap(notes_);
  return out;
}

std::string PrinterConditions::words(const Condition& c) {
  const std::string& p = c.printer;
  switch (c.state) {
    case NetState::ready: return p + " pronta";
    case NetState::paper_end: return p + " sem papel";
    case NetState::cover_open: return p + " com a tampa aberta";
    case NetState::error: return p + record::cp1252(" em erro (mecanismo ou guilhotina)");
    case NetState::offline: return p + " fora de linha";
    case NetState::no_answer: return p + record::cp1252(" não responde em ") + c.where;
  }
  return p;
}

std::size_t number_line(const platform::TicketLayout& layout, std::string_view ticket) {
  const std::string order = layout.facts(ticket).order;
  if (order.empty()) return platform::print::kNoLine;
  std::size_t index = 0;
  while (!ticket.empty()) {
    const std::size_t end = ticket.find('\n');
    const std::string_view line = ticket.substr(0, end);
    for (std::size_t at = line.find(order); at != std::string_view::npos; at = line.find(order, at + 1)) {
      const std::size_t after = at + order.size();
      const bool starts = at == 0 || line[at - 1] == ' ';
      const bool ends = after == line.size() || line[after] == ' ' || line[after] == '\r';
      if (starts && ends) return index;
    }
    if (end == std::string_view::npos) break;
    ticket.remove_prefix(end + 1);
    ++index;
  }
  return platform::print::kNoLine;
}

std::string escpos_bytes(const PrinterProfile& profile, const platform::TicketLayout& layout,
                         std::string_view ticket) {
  return platform::print::escpos_ticket(ticket, profile.escpos, number_line(layout, ticket));
}

ProfiledOutlet::ProfiledOutlet(std::unique_ptr<platform::print::PrinterOutlet> spooler, PrinterProfiles profiles,
                               const platform::TicketLayout& layout, std::shared_ptr<PrinterConditions> conditions,
                               platform::print::NetLimits limits, std::shared_ptr<SheetWatch> sheets)
    : spooler_(std::move(spooler)),
      profiles_(std::move(profiles)),
      layout_(layout),
      conditions_(std::move(conditions)),
      limits_(limits),
      sheets_(std::move(sheets)) {}

// The spooler is asked only about its own printers.
bool ProfiledOutlet::refresh(const std::set<std::string>& job_printers, int first_job) {
  looked_.clear();
  std::set<std::string> spooled;
  for (const auto& p : job_printers) {
    if (profiles_.of(p).mode != PrintMode::network) spooled.insert(p);
  }
  const bool reached = spooler_->refresh(spooled, first_job);
  unlisted_ = spooler_->unlisted();
  return reached;
}

void ProfiledOutlet::heard(const PrinterProfile& profile, NetState state) const {
  looked_[printer_key(profile.printer)] = state;
  if (conditions_) {
    conditions_->set({profile.printer, profile.host + ":" + std::to_string(profile.port), state});
  }
}

NetState ProfiledOutlet::status_of(const PrinterProfile& profile) const {
  const auto it = looked_.find(printer_key(profile.printer));
  if (it != looked_.end()) return it->second;
  const NetState state = platform::print::query_net_printer(profile.host, profile.port, limits_);
  heard(profile, state);
  return state;
}

PrinterState ProfiledOutlet::printer(std::string_view name) const {
  const PrinterProfile profile = profiles_.of(name);
  if (profile.mode != PrintMode::network) return spooler_->printer(name);
  return status_of(profile) == NetState::ready ? PrinterState::ready : PrinterState::stopped;
}

JobState ProfiledOutlet::job(std::string_view printer, int job_id) {
  if (profiles_.of(printer).mode == PrintMode::network) return JobState::completed;
  return spooler_->job(printer, job_id);
}

Delivery ProfiledOutlet::submit(const TicketJob& job, std::string_view ticket) {
  const PrinterProfile profile = profiles_.of(job.printer);
  switch (profile.mode) {
    case PrintMode::driver:
      if (sheets_ && job.page.continuous) sheets_->sheet(job.printer);
      return spooler_->submit(job, ticket);
    case PrintMode::escpos: return spooler_->submit_raw(job, escpos_bytes(profile, layout_, ticket));
    case PrintMode::network: break;
  }
  return send_net(profile, escpos_bytes(profile, layout_, ticket));
}

Delivery ProfiledOutlet::submit_raw(const TicketJob& job, std::string_view bytes) {
  const PrinterProfile profile = profiles_.of(job.printer);
  if (profile.mode != PrintMode::network) return spooler_->submit_raw(job, bytes);
  return send_net(profile, bytes);
}

// A printer that was not ready is said in its own words ("COZINHA sem
// papel"), whoever sent the bytes: a ticket or a test page.
Delivery ProfiledOutlet::send_net(const PrinterProfile& profile, std::string_view bytes) {
  const NetResult r = platform::print::send_to_net_printer(profile.host, profile.port, bytes, limits_);
  heard(profile, r.state);
  switch (r.sent) {
    case NetResult::Sent::printed: return Delivery{Outcome::printed, kNetworkJob, {}};
    case NetResult::Sent::not_sent:
      return Delivery{Outcome::stopped, 0,
                      PrinterConditions::words({profile.printer, profile.host + ":" + std::to_string(profile.port),
                                                r.state})};
    case NetResult::Sent::uncertain: break;
  }
  return Delivery{Outcome::uncertain, 0, r.detail};
}

std::unique_ptr<platform::print::PrinterOutlet> make_profiled_outlet(platform::FileSystem& files,
                                                                     const platform::TicketLayout& layout) {
  return std::make_unique<ProfiledOutlet>(platform::print::make_os_outlet(),
                                          PrinterProfiles(settings::read_kav_settings(files)), layout, nullptr);
}

}  // namespace kav::printing
