// What the ledger does for a printer that is away and for a ticket that is
// late or of unknown fate: the marks a ticket takes on its way, the backup
// that takes a printer's tickets, and the operator's "Enviar para…".
#include <algorithm>

#include "board/events.h"
#include "platform/line_end.h"
#include "printing/ledger.h"
#include "printing/profiled_outlet.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::printing {

using platform::print::Looked;
using platform::print::marked_name;
using platform::print::PrinterState;
using platform::print::printer_key;
using platform::print::same_printer;
using State = Ticket::State;

namespace {


std::int64_t now_centis(platform::Clock& clock) {
  return platform::stamp_centis(platform::stamp_now(clock)).value_or(0);
}

constexpr std::int64_t kCentisPerMinute = 6000;

}  // namespace

void Ledger::set_away_rules(PrinterProfiles profiles, const platform::TicketLayout* layout, SendElsewhere send) {
  profiles_ = std::move(profiles);
  layout_ = layout;
  send_ = std::move(send);
}

std::string Ledger::order_of(const Ticket& t) { return t.order; }

// A ticket handed to its printer later than the printer's late limit says
// so under its head, with the hour of its order.
std::string Ledger::late_stamped(const Ticket& t, std::string text) {
  if (layout_ == nullptr) return text;
  const auto how_old = age(t);  // a ticket dated ahead of the clock has no hour to trust
  if (how_old == kUnknownAge || how_old <= profiles_.of(t.printer).late_after) return text;
  const std::string mark =
      std::string(platform::kLateMark) + t.base.substr(9, 2) + ":" + t.base.substr(11, 2);
  return layout_->with_mark(text, mark, platform::kLineEnd);
}

// A ticket that may or may not have printed is printed again, never
// silently: the line "POSSÍVEL 2ª VIA - conferir" under its head, kept in
// its text too (the window shows it so). False when its text is gone
// (settled or removed by hand).
bool Ledger::reprint_unknown(Ticket& t) {
  std::string text;
  if (!store_.read_marked(t.folder, t.base, text)) return false;
  text = layout_->with_mark(text, platform::kPossibleCopyMark, platform::kLineEnd);
  if (!store_.keep(t.folder, t.base, text)) {
    report(record::cp1252("Falha ao marcar POSSÍVEL 2ª VIA no Spool: ") + marked_name(t.base) + " !!!");
  }
  t.possible_copy = true;
  t.troubled = true;
  t.state = State::on_its_way;
  report(record::cp1252("Situação desconhecida; reimprimindo como POSSÍVEL 2ª VIA em ") + shown_printer(t.printer) + ": " +
         (t.order.empty() ? std::string() : "comanda " + t.order + ", ") + marked_name(t.base));
  hand_over(t, std::move(text), true, true, false);
  return true;
}

bool Ledger::without_job(const Ticket& t) { return t.job == 0 && store_.read_note(t.folder, t.base) <= 0; }

void Ledger::note_away(const std::string& key, bool away) {
  if (away) {
    away_since_.try_emplace(key, now_centis(clock_));
  } else {
    away_since_.erase(key);
    rehomed_.erase(key);
  }
}

// The tickets of a printer away longer than its limit go to its backup,
// when the backup takes jobs and is not away itself; a ticket already on a
// printer in place of another goes no further.
void Ledger::send_to_backups(const Looked& look) {
  if (!send_ || closing_) return;
  const std::int64_t now = now_centis(clock_);
  struct Move {
    std::string folder, base, to, why;
  };
  std::vector<Move> moves;
  for (const auto& t : tickets_) {
    if (t.state != State::undelivered || t.rehomed || expired(t)) continue;
    const std::string key = printer_key(t.printer);
    const auto since = away_since_.find(key);
    if (since == away_since_.end()) continue;
    const PrinterProfile p = profiles_.of(t.printer);
    if (p.backup.empty() || same_printer(p.backup, t.printer)) continue;
    if (now - since->second <= static_cast<std::int64_t>(p.backup_after.count()) * kCentisPerMinute) continue;
    const std::string backup_key = printer_key(p.backup);
    const auto seen = look.printers.find(backup_key);
    if (seen == look.printers.end() || seen->second != PrinterState::ready || away_since_.contains(backup_key) ||
        queue_.held_back(backup_key)) {
      continue;
    }
    moves.push_back({t.folder, t.base, p.backup, shown_printer(t.printer) + " fora"});
  }
  for (const auto& m : moves) {
    const auto it = std::find_if(tickets_.begin(), tickets_.end(),
                                 [&](const Ticket& t) { return t.folder == m.folder && t.base == m.base; });
    if (it == tickets_.end()) continue;
    const std::string printer = it->printer;
    const std::string order = it->order;
    if (send_elsewhere(m.folder, m.base, m.to, m.why).empty()) continue;
    Rehomed& r = rehomed_[printer_key(printer)];
    r.printer = printer;
    r.backup = m.to;
    r.orders.push_back(order);
  }
}

std::string Ledger::send_elsewhere(std::string_view folder, std::string_view base, std::string_view to,
                                   std::string_view why) {
  if (!send_) return {};
  const auto it = std::find_if(tickets_.begin(), tickets_.end(),
                               [&](const Ticket& t) { return t.folder == folder && t.base == base; });
  Ticket t;
  if (it != tickets_.end()) {
    if (it->state == State::on_its_way || it->state == State::handed_over || it->state == State::to_match) return {};
    t = *it;
  } else {
    t.folder = std::string(folder);
    t.base = std::string(base);
    t.printer = platform::print::printer_of_folder(folder.substr(folder.rfind('\\') + 1));
  }
  std::string text;
  if (!store_.read_marked(t.folder, t.base, text)) return {};
  if (t.order.empty() && layout_ != nullptr) t.order = layout_->facts(text).order;
  const std::string name = send_(t, to, late_stamped(t, std::move(text)));
  if (name.empty()) return {};
  // The original is settled: it never prints as well.
  std::erase_if(tickets_, [&](const Ticket& each) { return each.folder == folder && each.base == base; });
  const bool unmarked = store_.unmark(t.folder, t.base);
  report("Enviado para " + shown_printer(to) + " (" + std::string(why) + "): " + shown_printer(t.printer) + "\\" + t.base + " como " +
         name + (unmarked ? "" : record::cp1252("; marca do original não retirada !!!")));
  return name;
}

bool Ledger::deliver_now(std::string_view folder, std::string_view base) {
  const auto it = std::find_if(tickets_.begin(), tickets_.end(),
                               [&](const Ticket& t) { return t.folder == folder && t.base == base; });
  if (it == tickets_.end()) return false;
  Ticket& t = *it;
  const bool of_unknown_fate = t.state == State::unknown && without_job(t);
  if (t.state != State::undelivered && !of_unknown_fate) return false;
  if (of_unknown_fate && layout_ != nullptr && !t.possible_copy) return reprint_unknown(t);
  std::string text;
  if (!store_.read_marked(t.folder, t.base, text)) return false;
  const bool nothing_on_its_way = !in_flight_for(t.printer);
  t.troubled = true;
  t.state = State::on_its_way;
  t.expiry_reported = true;
  report("Reenviando a pedido " + marked_name(t.base) + " para " + shown_printer(t.printer) + " ...");
  hand_over(t, std::move(text), true, true, nothing_on_its_way);
  return true;
}

// A printer away whose tickets went to its backup stands as an alert,
// naming the backup and the orders, until it takes jobs again.
void Ledger::away_alerts(std::map<std::string, std::string>& up) {
  for (const auto& [key, r] : rehomed_) {
    up[std::string(log::alert_key::printer_backup) + key] =
        "Impressora " + shown_printer(r.printer) + " fora: " + orders_words(r.orders) + " enviada(s) para " + shown_printer(r.backup);
  }
}

// A spool folder that cannot keep tickets and a network printer that says it
// is not ready stand as alerts naming the orders that wait on the printer and
// what the operator can do about them.
void Ledger::printer_alerts(std::map<std::string, std::string>& up) {
  for (const auto& [key, text] : spool_failed_) {
    const auto failed = spool_failed_orders_.find(key);
    up[std::string(log::alert_key::printer_spool) + key] =
        text + " " + waiting_words(key, failed == spool_failed_orders_.end() ? std::vector<std::string>{} : failed->second);
  }
  if (!conditions_) return;
  for (const auto& c : conditions_->troubled()) {
    const std::string key = printer_key(c.printer);
    const std::string waiting = waiting_words(key, {});
    up[std::string(log::alert_key::printer_state) + key] =
        PrinterConditions::words(c) + (waiting.empty() ? "" : ": " + waiting);
  }
}

// "comanda 0012 sem imprimir; Reimprimir > Enviar para…" for the orders
// given and those of the tickets of the printer (by key) not yet printed;
// nothing when none waits.
std::string Ledger::waiting_words(const std::string& key, std::vector<std::string> orders) {
  bool any = !orders.empty();
  for (const auto& t : tickets_) {
    if (printer_key(t.printer) != key) continue;
    orders.push_back(order_of(t));
    any = true;
  }
  if (!any) return {};
  return orders_words(orders) + record::cp1252(" sem imprimir; Reimprimir > Enviar para…");
}

}  // namespace kav::printing
