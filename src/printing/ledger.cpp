#include "printing/ledger.h"

#include <algorithm>
#include <optional>
#include <set>

#include "board/alerts.h"
#include "board/events.h"
#include "printing/profiled_outlet.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::printing {

using platform::print::HandOverJob;
using platform::print::HandOverResult;
using platform::print::Handed;
using platform::print::JobState;
using platform::print::Looked;
using platform::print::marked_name;
using platform::print::Outcome;
using platform::print::PrinterState;
using platform::print::printer_key;
using platform::print::same_printer;
using platform::print::SpoolEntry;
using platform::print::TicketJob;
using State = Ticket::State;

namespace {

constexpr std::string_view kAlertPrefixes[] = {
    log::alert_key::printer_waiting, log::alert_key::printer_old,    log::alert_key::printer_spool,
    log::alert_key::printer_queue,   log::alert_key::printer_state,  log::alert_key::printer_backup,
    log::alert_key::printer_uncertain};

std::string_view reason(Outcome outcome) {
  switch (outcome) {
    case Outcome::unknown_printer: return "inexistente";
    case Outcome::refused: return "recusado";
    case Outcome::aborted: return "abortado";
    case Outcome::stopped: return "parado";
    case Outcome::waiting: return "aguardando";
    default: return "falha de envio";
  }
}



}  // namespace

// The log's line for a ticket its printer did not take.
std::string not_printed(std::string_view printer, Outcome outcome, std::string_view base) {
  return record::cp1252("Não impresso em ") + shown_printer(printer) + " (" + std::string(reason(outcome)) +
         "): " + marked_name(base) + " !!!";
}

// "comanda 0012", "comandas 0012, 0013, 0014 e mais 2"; "tickets" when no
// order is known.
std::string orders_words(const std::vector<std::string>& orders) {
  std::vector<std::string> distinct;
  for (const auto& o : orders) {
    if (!o.empty() && std::find(distinct.begin(), distinct.end(), o) == distinct.end()) distinct.push_back(o);
  }
  if (distinct.empty()) return "tickets";
  std::string text = distinct.size() == 1 ? "comanda " : "comandas ";
  for (std::size_t i = 0; i < distinct.size() && i < 3; ++i) text += (i == 0 ? "" : ", ") + distinct[i];
  if (distinct.size() > 3) text += " e mais " + std::to_string(distinct.size() - 3);
  return text;
}

namespace {

}  // namespace

Ledger::Ledger(platform::print::SpoolStore& store, platform::Clock& clock, platform::print::HandOverQueue& queue,
               PrintReport report, log::Alerts* board, std::chrono::minutes redelivery_limit)
    : store_(store),
      clock_(clock),
      queue_(queue),
      report_(std::move(report)),
      board_(board),
      redelivery_limit_(redelivery_limit) {}

void Ledger::report(std::string_view text) {
  if (report_) report_(text);
}

std::string Ledger::job_title_of(const Ticket& t) const { return platform::print::job_title(t.base, root_host_); }

void Ledger::start(const std::vector<std::string>& pending_work, platform::StampSequence& stamps) {
  root_host_ = store_.root_host();
  for (const auto& id : pending_work) stamps.note(id);
  for (const auto& folder : store_.list()) {
    const std::string printer = platform::print::printer_of_folder(folder.name);
    std::set<std::string> kept;
    for (const auto& [name, e] : folder.files) {
      if (e.kind == SpoolEntry::Kind::printed || e.kind == SpoolEntry::Kind::undelivered) kept.insert(e.base);
    }
    for (const auto& file : folder.files) {
      const std::string& name = file.first;
      const SpoolEntry& e = file.second;
      if (platform::stamp_centis(e.base)) stamps.note(e.base);
      if (e.kind == SpoolEntry::Kind::unfinished) {
        const bool redone = std::any_of(pending_work.begin(), pending_work.end(), [&](const std::string& id) {
          return e.base.starts_with(id.substr(0, 17) + "-");
        });
        if (redone || kept.contains(e.base)) {
          store_.remove(folder.path + "\\" + name);  // the work is done over, or the ticket was kept after all
        } else {
          report("Ticket incompleto no Spool: " + shown_printer(folder.name) + "\\" + name + " !!!");
        }
      } else if (e.kind == SpoolEntry::Kind::undelivered && !printer.empty()) {
        Ticket t{folder.path, e.base, printer, {}};
        t.state = State::to_match;
        if (std::string text; layout_ != nullptr && store_.read_marked(folder.path, e.base, text)) {
          const platform::TicketFacts facts = layout_->facts(text);
          t.order = facts.order;
          t.possible_copy = facts.possible_copy;
        }
        tickets_.push_back(std::move(t));
      }
    }
  }
}

namespace {

// How far ahead of the clock a name may be dated and still be young: stamps
// given in one hundredth follow each other by a hundredth.
constexpr std::int64_t kAheadCentis = 60 * 100;

// The age by the date and time in a ticket's name; none when it has no
// stamp or is dated ahead of the clock.
std::optional<std::int64_t> wall_age_ms(std::string_view base, platform::Clock& clock) {
  const auto made = platform::stamp_centis(base);
  const auto now = platform::stamp_centis(platform::stamp_now(clock));
  if (!made || !now || *made > *now + kAheadCentis) return std::nullopt;
  return std::max<std::int64_t>(*now - *made, 0) * 10;
}

}  // namespace

std::chrono::milliseconds Ledger::age(const Ticket& t) {
  if (t.born_ms) return std::chrono::milliseconds(std::max<std::int64_t>(clock_.monotonic_ms() - *t.born_ms, 0));
  const auto wall = wall_age_ms(t.base, clock_);
  return wall ? std::chrono::milliseconds(*wall) : kUnknownAge;
}

// A ticket kept now: its age goes on from the one its stamp gives it (an
// answer done over after a while), by the monotonic clock from here.
void Ledger::born(Ticket& t) {
  if (!t.born_ms) t.born_ms = clock_.monotonic_ms() - wall_age_ms(t.base, clock_).value_or(0);
}

Ledger::Standing Ledger::standing(std::string_view folder, std::string_view base) {
  const auto it = std::find_if(tickets_.begin(), tickets_.end(),
                               [&](const Ticket& t) { return t.folder == folder && t.base == base; });
  if (it == tickets_.end()) return Standing::not_followed;
  if (it->state == State::on_its_way || it->job != 0) return Standing::in_queue;
  if (it->state == State::unknown) return Standing::uncertain;
  if (it->state == State::to_match) return Standing::matching;
  return expired(*it) ? Standing::stuck : Standing::resending;
}

bool Ledger::settle_by_hand(std::string_view folder, std::string_view base) {
  std::erase_if(tickets_, [&](const Ticket& t) { return t.folder == folder && t.base == base; });
  return store_.unmark(folder, base);
}

bool Ledger::in_flight_for(std::string_view printer) const {
  return std::any_of(tickets_.begin(), tickets_.end(),
                     [&](const Ticket& t) { return t.state == State::on_its_way && same_printer(t.printer, printer); });
}

// A ticket never passes the tickets of its printer waiting to be sent
// again. One whose job's state is not known (not yet, or not at all) is not
// waiting to be sent: it holds nothing back.
bool Ledger::waits_behind(std::string_view printer) {
  return std::any_of(tickets_.begin(), tickets_.end(), [&](const Ticket& t) {
    return t.state == State::undelivered && same_printer(t.printer, printer) && !expired(t);
  });
}

// A ticket whose job may have printed and cannot be asked about: reported
// once, kept marked, never sent again by itself.
void Ledger::state_unknown(Ticket& t) {
  if (t.state == State::unknown) return;
  t.state = State::unknown;
  t.unknown_since = check_;
  report(record::cp1252("Situação desconhecida em ") + shown_printer(t.printer) + ": " + marked_name(t.base) + " !!!");
}

// Every ticket's delivery is logged, naming its printer: a ticket that
// followed a failed or delayed first delivery as the lines before it.
void Ledger::settle_printed(const Ticket& t) {
  if (!store_.unmark(t.folder, t.base)) return;
  if (delivered_) {
    if (const auto a = age(t); a != kUnknownAge) {
      delivered_(Delivered{t.printer, t.order, static_cast<double>(a.count()) / 1000.0});
    }
  }
  const std::string name = t.base + std::string(platform::print::kTicketExtension);
  if (t.troubled) {
    report("Impresso em " + shown_printer(t.printer) + ": " + name);
  } else {
    report("Ticket " + name + " entregue em " + shown_printer(t.printer));
  }
}

void Ledger::spool_failed(std::string_view printer, std::string_view order) {
  const std::string text =
      "Falha ao gravar Spool de " + (printer.empty() ? std::string("(sem impressora)") : shown_printer(printer)) + " !!!";
  report(text);
  spool_failed_[printer_key(printer)] = text;
  spool_failed_orders_[printer_key(printer)].emplace_back(order);
}

void Ledger::spool_kept(std::string_view printer) {
  spool_failed_.erase(printer_key(printer));
  spool_failed_orders_.erase(printer_key(printer));
}

void Ledger::hand_over(const Ticket& t, std::string text, bool redelivery, bool kept, bool nothing_on_its_way) {
  HandOverJob job{t.folder, t.base, TicketJob{t.printer, job_title_of(t), t.page}, late_stamped(t, std::move(text)),
                  redelivery, kept, check_};
  queue_.hand_over(std::move(job), nothing_on_its_way);
}

void Ledger::kept(Ticket t, std::string text) {
  born(t);
  if (t.printer.empty()) {
    report(record::cp1252("Não impresso, sem impressora: ") + marked_name(t.base) + " !!!");
    return;
  }
  if (waits_behind(t.printer)) {
    t.troubled = true;
    t.state = State::undelivered;
    t.outcome = Outcome::waiting;
    report(not_printed(t.printer, t.outcome, t.base));
    tickets_.push_back(std::move(t));
    return;
  }
  const bool nothing_on_its_way = !in_flight_for(t.printer);
  t.state = State::on_its_way;
  tickets_.push_back(t);
  hand_over(t, std::move(text), false, true, nothing_on_its_way);
}

void Ledger::not_kept(Ticket t, std::string text) {
  if (t.printer.empty()) return;
  hand_over(t, std::move(text), false, false, !in_flight_for(t.printer));
}

void Ledger::take(const HandOverResult& r) {
  if (r.look) {
    look_pending_ = false;
    apply_look(r.looked);
  } else {
    take_hand_over(r.handed);
  }
}

void Ledger::take_hand_over(const Handed& h) {
  const auto it = std::find_if(tickets_.begin(), tickets_.end(),
                               [&](const Ticket& t) { return t.base == h.base && t.folder == h.folder; });
  if (it == tickets_.end()) return;  // a ticket the spool could not keep, tried all the same
  Ticket& t = *it;
  if (h.redelivery && h.attempted) report("Reenviando " + marked_name(t.base) + " para " + shown_printer(t.printer) + " ...");
  if (h.delivery.outcome == Outcome::printed) {
    // The printer itself said it printed the ticket (a network printer).
    const Ticket done = t;
    tickets_.erase(it);
    settle_printed(done);
    return;
  }
  if (h.delivery.outcome == Outcome::uncertain) {
    // The transfer broke off: it may have printed. A note that names no job
    // keeps it from being sent again, after a restart too.
    store_.write_note(t.folder, t.base, platform::print::SpoolStore::kNoteUnreadable);
    t.troubled = true;
    state_unknown(t);
    return;
  }
  if (h.delivery.delivered()) {
    t.job = h.delivery.job_id;
    t.state = State::handed_over;
    highest_job_ = std::max(highest_job_, t.job);
    return;
  }
  t.state = State::undelivered;
  t.troubled = true;
  t.outcome = h.delivery.outcome;
  if (t.outcome == Outcome::unknown_printer || t.outcome == Outcome::refused || t.outcome == Outcome::stopped) {
    note_away(printer_key(t.printer), true);
  }
  if (h.attempted || !h.redelivery) report(not_printed(t.printer, t.outcome, t.base));
}

// The alerts follow what waits: a printer with tickets it did not take, a
// printer with tickets too old to be sent by themselves, a spool folder that
// could not keep a ticket.
void Ledger::update_alerts() {
  log_printer_news();
  if (board_ == nullptr) return;
  std::map<std::string, std::string> up = waiting_alerts(waiting_by_printer());
  printer_alerts(up);
  away_alerts(up);
  raise_alerts(up);
}

// What the printers said of themselves since the last check, and the queues
// that could not be listed while each of their jobs can still be followed by
// itself: said in the log, the latter once a run for each printer.
void Ledger::log_printer_news() {
  if (conditions_) {
    for (const auto& c : conditions_->take_changes()) report(PrinterConditions::words(c));
    for (const auto& line : conditions_->take_notes()) report(line);
  }
  for (const auto& [key, printer] : unread_by_look_) {
    if (unlisted_said_.insert(key).second) {
      report(record::cp1252("Fila de impressão de ") + shown_printer(printer) +
             record::cp1252(" ilegível: tickets seguidos um a um"));
    }
  }
  unread_by_look_.clear();
}

// The orders waiting, printer by printer (by key), by what keeps them.
std::map<std::string, Ledger::Waiting> Ledger::waiting_by_printer() {
  std::map<std::string, Waiting> by_printer;
  for (const auto& t : tickets_) {
    Waiting& w = by_printer[printer_key(t.printer)];
    w.printer = t.printer;
    const std::string order = order_of(t);
    if (t.state == State::unknown ||
        (t.possible_copy && (t.state == State::on_its_way || t.state == State::handed_over))) {
      // Its job cannot be followed (its number known), or it may have
      // printed and is printed again, marked.
      const bool no_job = t.state != State::unknown || without_job(t);
      (no_job ? w.uncertain : w.unknown).push_back(order);
      if (t.state == State::unknown && no_job && (layout_ == nullptr || t.possible_copy || expired(t))) {
        w.marked_again = false;
      }
      continue;
    }
    // A ticket on its way for the first time is not late yet; one sent
    // again is, until the spooler has taken it.
    if (t.state != State::undelivered && !(t.state == State::on_its_way && t.troubled)) continue;
    if (expired(t)) {
      w.old.push_back(order);
    } else {
      if (w.undelivered.empty()) w.outcome = t.outcome;  // the first in line is the one tried
      w.undelivered.push_back(order);
    }
  }
  return by_printer;
}

// The alerts' texts for the orders waiting, by alert key.
std::map<std::string, std::string> Ledger::waiting_alerts(const std::map<std::string, Waiting>& by_printer) const {
  const std::string action = record::cp1252("Reimprimir > Enviar para…");
  std::map<std::string, std::string> up;
  for (const auto& [key, w] : by_printer) {
    if (!w.undelivered.empty()) {
      up[std::string(log::alert_key::printer_waiting) + key] =
          "Impressora " + shown_printer(w.printer) + record::cp1252(" não recebeu ") + orders_words(w.undelivered) + " (" +
          std::string(reason(w.outcome)) + record::cp1252("); reenvio automático ou ") + action;
    }
    if (!w.old.empty()) {
      up[std::string(log::alert_key::printer_old) + key] =
          "Impressora " + shown_printer(w.printer) + ": " + orders_words(w.old) + record::cp1252(" há mais de ") +
          std::to_string(redelivery_limit_.count()) + " min sem imprimir; Reimprimir > Ticket ou Enviar para" +
          record::cp1252("…");
    }
    if (!w.unknown.empty()) {
      up[std::string(log::alert_key::printer_queue) + key] =
          record::cp1252("Fila de impressão de ") + shown_printer(w.printer) + record::cp1252(" ilegível: ") +
          orders_words(w.unknown) + record::cp1252(" sem situação; ") + action;
    }
    if (!w.uncertain.empty()) {
      up[std::string(log::alert_key::printer_uncertain) + key] =
          shown_printer(w.printer) + ": " + orders_words(w.uncertain) + record::cp1252(" sem situação; ") +
          (w.marked_again ? std::string("impresso de novo com \"") + std::string(platform::kPossibleCopyMark) + "\""
                          : action);
    }
  }
  return up;
}

// The board shows exactly `up` of the ledger's alerts: the others go.
void Ledger::raise_alerts(const std::map<std::string, std::string>& up) {
  for (const auto& a : board_->current()) {
    const bool ours = std::any_of(std::begin(kAlertPrefixes), std::end(kAlertPrefixes),
                                  [&](std::string_view p) { return a.key.starts_with(p); });
    if (ours && !up.contains(a.key)) board_->clear(a.key);
  }
  for (const auto& [key, text] : up) board_->raise(key, text);
}

std::string shown_printer(std::string_view name) {
  return record::blank_controls(platform::print::printer_name(name));
}

}  // namespace kav::printing
