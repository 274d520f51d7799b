// What the ledger does with what the spooler says: the look asked for at a
// check, the tickets it settles or finds of unknown fate, the jobs matched
// with the tickets an earlier run left, and the tickets sent again.
#include <algorithm>
#include <optional>
#include <set>

#include "printing/ledger.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::printing {

using platform::print::JobState;
using platform::print::Looked;
using platform::print::marked_name;
using platform::print::Outcome;
using platform::print::PrinterState;
using platform::print::printer_key;
using platform::print::same_printer;
using State = Ticket::State;

namespace {

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
  if (!look.reachable) {
    apply_printers_look(look);
    return;
  }
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

// A look the spooler did not answer: the network printers it never stands
// between said how they are, and their tickets are followed as at any look;
// the spooler's own printers and jobs are left as they were.
void Ledger::apply_printers_look(const Looked& look) {
  const auto networked = [&](std::string_view printer) {
    return profiles_.of(printer).mode == PrintMode::network;
  };
  Looked own;
  own.reachable = true;
  for (const auto& [key, state] : look.printers) {
    if (networked(key)) own.printers.emplace(key, state);
  }
  if (own.printers.empty()) return;
  std::vector<Ticket> still;
  for (auto& t : tickets_) {
    if (!networked(t.printer) || still_followed(t, own)) still.push_back(std::move(t));
  }
  tickets_ = std::move(still);
  if (!closing_) redeliver(own);
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
               " min: " + shown_printer(t.printer) + "\\" + marked_name(t.base) + " !!!");
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
