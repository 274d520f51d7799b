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

// How far an odd printer name may reach into a log line.
std::string shown(std::string_view name) { return record::blank_controls(platform::print::printer_name(name)); }

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

// The log's line for a ticket its printer did not take.
std::string not_printed(std::string_view printer, Outcome outcome, std::string_view base) {
  return record::cp1252("Não impresso em ") + shown(printer) + " (" + std::string(reason(outcome)) +
         "): " + marked_name(base) + " !!!";
}

// The state a look gave a job of `printer`; none when the job was handed
// over after the look was asked for.
std::optional<JobState> state_in_look(const Looked& look, std::string_view printer, int job) {
  for (const auto& j : look.jobs) {
    if (j.id == job && same_printer(j.printer, printer)) return j.state;
  }
  for (const auto& a : look.asked) {
    if (a.id == job && same_printer(a.printer, printer)) return a.state;
  }
  return std::nullopt;
}

bool finished(JobState state) { return state == JobState::completed || state == JobState::gone; }

}  // namespace

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
          report("Ticket incompleto no Spool: " + shown(folder.name) + "\\" + name + " !!!");
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
  report(record::cp1252("Situação desconhecida em ") + shown(t.printer) + ": " + marked_name(t.base) + " !!!");
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
    report("Impresso em " + shown(t.printer) + ": " + name);
  } else {
    report("Ticket " + name + " entregue em " + shown(t.printer));
  }
}

void Ledger::spool_failed(std::string_view printer, std::string_view order) {
  const std::string text =
      "Falha ao gravar Spool de " + (printer.empty() ? std::string("(sem impressora)") : shown(printer)) + " !!!";
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
  if (h.redelivery && h.attempted) report("Reenviando " + marked_name(t.base) + " para " + shown(t.printer) + " ...");
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
  if (conditions_) {
    for (const auto& c : conditions_->take_changes()) report(PrinterConditions::words(c));
    for (const auto& line : conditions_->take_notes()) report(line);
  }
  // A queue that cannot be listed while each of its jobs can still be
  // followed by itself is said in the log, once a run for each printer.
  for (const auto& [key, printer] : unread_by_look_) {
    if (unlisted_said_.insert(key).second) {
      report(record::cp1252("Fila de impressão de ") + shown(printer) +
             record::cp1252(" ilegível: tickets seguidos um a um"));
    }
  }
  unread_by_look_.clear();
  if (board_ == nullptr) return;
  struct Waiting {
    std::string printer;
    std::vector<std::string> undelivered, old, unknown, uncertain;
    Outcome outcome = Outcome::failed;
    bool marked_again = true;  // every ticket of unknown fate without a job is (to be) printed marked
  };
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
  const std::string action = record::cp1252("Reimprimir > Enviar para…");
  std::map<std::string, std::string> up;
  for (const auto& [key, w] : by_printer) {
    if (!w.undelivered.empty()) {
      up[std::string(log::alert_key::printer_waiting) + key] =
          "Impressora " + shown(w.printer) + record::cp1252(" não recebeu ") + orders_words(w.undelivered) + " (" +
          std::string(reason(w.outcome)) + record::cp1252("); reenvio automático ou ") + action;
    }
    if (!w.old.empty()) {
      up[std::string(log::alert_key::printer_old) + key] =
          "Impressora " + shown(w.printer) + ": " + orders_words(w.old) + record::cp1252(" há mais de ") +
          std::to_string(redelivery_limit_.count()) + " min sem imprimir; Reimprimir > Ticket ou Enviar para" +
          record::cp1252("…");
    }
    if (!w.unknown.empty()) {
      up[std::string(log::alert_key::printer_queue) + key] =
          record::cp1252("Fila de impressão de ") + shown(w.printer) + record::cp1252(" ilegível: ") +
          orders_words(w.unknown) + record::cp1252(" sem situação; ") + action;
    }
    if (!w.uncertain.empty()) {
      up[std::string(log::alert_key::printer_uncertain) + key] =
          shown(w.printer) + ": " + orders_words(w.uncertain) + record::cp1252(" sem situação; ") +
          (w.marked_again ? std::string("impresso de novo com \"") + std::string(platform::kPossibleCopyMark) + "\""
                          : action);
    }
  }
  printer_alerts(up);
  away_alerts(up);
  for (const auto& a : board_->current()) {
    const bool ours = std::any_of(std::begin(kAlertPrefixes), std::end(kAlertPrefixes),
                                  [&](std::string_view p) { return a.key.starts_with(p); });
    if (ours && !up.contains(a.key)) board_->clear(a.key);
  }
  for (const auto& [key, text] : up) board_->raise(key, text);
}

// Asks for a look at the spooler (on the worker, after the hand-overs queued
// before it).
bool Ledger::follow_up() {
  ++check_;  // a new check: the printers are looked at again
  if (tickets_.empty() || look_pending_) return false;
  platform::print::LookRequest q;
  q.check = check_;
  bool all = false;
  for (const auto& t : tickets_) {
    q.printers.insert(t.printer);
    // A backup's state is wanted while its printer has tickets waiting.
    if (const PrinterProfile p = profiles_.of(t.printer); !p.backup.empty() && t.state == State::undelivered) {
      q.printers.insert(p.backup);
    }
    if (t.state == State::on_its_way || t.state == State::undelivered) continue;
    // Only the jobs from the oldest one followed on; all of them while
    // tickets of an earlier run are still to be matched with theirs.
    q.job_printers.insert(t.printer);
    all = all || t.state == State::to_match;
    if (t.job == 0) {  // of an earlier run, or unknown: matched by name, or by its job note
      q.titles.insert(job_title_of(t));
      if (const int noted = store_.read_note(t.folder, t.base); noted > 0) q.ask.emplace_back(t.printer, noted);
    }
    if (t.job != 0) {
      q.ask.emplace_back(t.printer, t.job);
      if (q.first_job == 0 || t.job < q.first_job) q.first_job = t.job;
    }
  }
  // Tickets on their way get their job numbers before the look is made.
  const auto on_its_way = std::any_of(tickets_.begin(), tickets_.end(),
                                     [](const Ticket& t) { return t.state == State::on_its_way; });
  if (on_its_way) {
    for (const auto& t : tickets_) {
      if (t.state == State::on_its_way) q.job_printers.insert(t.printer);
    }
    // (their numbers follow the highest one known)
    if (q.first_job == 0 && highest_job_ != 0) q.first_job = highest_job_ + 1;
  }
  const bool unmatched = std::any_of(tickets_.begin(), tickets_.end(),
                                     [](const Ticket& t) { return t.state == State::unknown && t.job == 0; });
  if (all || unmatched) q.first_job = 0;
  look_pending_ = true;
  queue_.look(std::move(q));
  // The tickets an earlier run left are matched with their jobs before
  // anything new is printed (once, after a start): a new ticket waits only
  // behind tickets that really were not delivered.
  return all;
}

// What one look found: tickets their printer finished lose their mark,
// failed jobs and tickets never handed over are sent again.
void Ledger::apply_look(const Looked& look) {
  if (!look.reachable) return;
  if (!look.known.empty()) known_printers_ = look.known;
  unlisted_ = look.unlisted;
  for (const auto& t : tickets_) {
    const std::string key = printer_key(t.printer);
    if (look.unlisted.contains(key)) unread_by_look_.emplace(key, t.printer);
  }
  std::vector<Ticket> still;
  for (auto& t : tickets_) {
    if (still_followed(t, look)) still.push_back(std::move(t));
  }
  tickets_ = std::move(still);
  if (!closing_) redeliver(look);
}

// What a look says of one ticket's job: finished, failed, or still under
// way. False once the ticket is no longer followed (its printer finished it,
// or it was settled by hand). A ticket on its way to the spooler is left
// alone.
bool Ledger::still_followed(Ticket& t, const Looked& look) {
  if (t.state == State::on_its_way) return true;
  if (t.state == State::unknown && !store_.holds_marked(t.folder, t.base)) return false;  // settled by hand (kav-spool)
  if (t.job == 0 && (t.state == State::to_match || t.state == State::unknown)) {
    const Match match = match_with_job(t, look);
    if (match == Match::printed) return false;
    if (match == Match::unknown) return true;
  }
  if (t.job != 0) {
    const std::optional<JobState> state = state_in_look(look, t.printer, t.job);
    if (state == JobState::unknown) {
      state_unknown(t);
      return true;
    }
    if (state) t.state = State::handed_over;
    if (state && finished(*state)) {
      settle_printed(t);
      return false;
    }
    if (state == JobState::aborted) {
      report(not_printed(t.printer, Outcome::aborted, t.base));
      t.job = 0;
      t.state = State::undelivered;
      t.troubled = true;
      t.outcome = Outcome::aborted;
    }
  }
  return t.job != 0 || store_.holds_marked(t.folder, t.base);  // or settled or removed by hand
}

// A ticket found at start (or one whose state could not be learnt) is
// matched with its job by name, or by its job note.
Ledger::Match Ledger::match_with_job(Ticket& t, const Looked& look) {
  const bool unlisted = look.unlisted.contains(printer_key(t.printer));
  const std::string title = job_title_of(t);
  for (const auto& j : look.jobs) {
    if (j.title == title && same_printer(j.printer, t.printer)) t.job = j.id;  // the latest one counts
  }
  const int noted = t.job == 0 ? store_.read_note(t.folder, t.base) : 0;
  if (noted == platform::print::SpoolStore::kNoteUnreadable) {
    // A note stands and names no job (a power cut took what was written):
    // the ticket was handed over, and may have printed.
    state_unknown(t);
    return Match::unknown;
  }
  if (noted != 0) {
    // A job noted and neither listed nor asked about (a spooler that
    // forgets finished jobs) has left the queue; one asked about has
    // the state the spooler gave.
    const std::optional<JobState> state = state_in_look(look, t.printer, noted);
    if ((!state && !unlisted) || (state && finished(*state))) {
      settle_printed(t);
      return Match::printed;
    }
    if (!state || *state == JobState::unknown) {
      state_unknown(t);
      return Match::unknown;
    }
    t.job = noted;
  } else if (t.job == 0 && unlisted) {
    // No job to ask for, and no listing to find it by name in: it may
    // have been handed over just before the end of the run.
    state_unknown(t);
    return Match::unknown;
  }
  t.state = t.job != 0 ? State::handed_over : State::undelivered;
  return Match::matched;
}

// Redelivery, in order, printer by printer; a printer that fails once is
// left for the next check, and so is one with tickets still on their way.
void Ledger::redeliver(const Looked& look) {
  std::set<std::string> blocked;
  for (const auto& t : tickets_) {
    if (t.state == State::on_its_way) blocked.insert(printer_key(t.printer));
  }
  queue_.keep_held_back_only(blocked);
  for (const auto& [key, state] : look.printers) note_away(key, state != PrinterState::ready);
  std::set<std::string> gone;
  for (auto& t : tickets_) {
    // Sent again: a ticket not delivered, and one of unknown fate with no
    // job to follow, marked, once, from the check after the one that found
    // it so.
    const bool of_unknown_fate = t.state == State::unknown && without_job(t);
    if (t.state != State::undelivered && !of_unknown_fate) continue;
    if (of_unknown_fate && (layout_ == nullptr || t.possible_copy || t.unknown_since >= check_)) continue;
    const std::string key = printer_key(t.printer);
    if (blocked.contains(key)) continue;
    const auto seen = look.printers.find(key);
    if (seen == look.printers.end()) continue;  // a printer new since the look was asked for
    const bool failed_just_now = queue_.held_back(key);
    if (seen->second != PrinterState::ready || failed_just_now) {
      if (seen->second != PrinterState::ready && !of_unknown_fate) {
        t.outcome = seen->second == PrinterState::stopped ? Outcome::stopped : Outcome::unknown_printer;
      }
      blocked.insert(key);
      continue;
    }
    if (expired(t)) {
      if (!t.expiry_reported) {
        report(record::cp1252("Não reenviado, mais de ") + std::to_string(redelivery_limit_.count()) +
               " min: " + shown(t.printer) + "\\" + marked_name(t.base) + " !!!");
        t.expiry_reported = true;
      }
      continue;
    }
    if (of_unknown_fate) {
      if (!reprint_unknown(t)) gone.insert(t.folder + "\\" + t.base);
      continue;
    }
    std::string text;
    if (!store_.read_marked(t.folder, t.base, text)) {  // settled or removed by hand
      gone.insert(t.folder + "\\" + t.base);
      continue;
    }
    t.troubled = true;
    t.state = State::on_its_way;
    hand_over(t, std::move(text), true, true, false);
  }
  std::erase_if(tickets_, [&](const Ticket& t) { return gone.contains(t.folder + "\\" + t.base); });
  send_to_backups(look);
}

}  // namespace kav::printing
