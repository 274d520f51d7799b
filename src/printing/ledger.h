// The ledger of delivery: every ticket kept in the spool and not yet
// finished by its printer, what became of its hand-over, and what is sent
// again. It decides; the spool store (platform/print/spool_store.h) keeps the
// files and the hand-over queue (platform/print/hand_over.h) talks to the
// spooler. It speaks to the operator: the day's log hears of every ticket
// that did not reach its printer, and the failures someone must act on
// stand on the alert board while they last:
//   "impressao-pendente:<printer>"  the printer did not take tickets that
//                                   will be sent again by themselves
//   "impressao-antiga:<printer>"    tickets too old to be sent by themselves
//                                   wait for the operator (kav-spool)
//   "impressao-spool:<printer>"     a ticket could not be kept in the spool
//   "impressao-fila:<printer>"      the spooler would not list the printer's
//                                   jobs (they are followed one by one);
//                                   raised by every look that could not list
//                                   them, standing while the printer has
//                                   tickets followed
//   "impressora-estado:<printer>"   a network printer is not ready, in its
//                                   own words ("COZINHA sem papel")
// (<printer> in lower case: printers compare without regard to case).
//
// The ledger runs on its caller's thread and starts none: it hands tasks to
// the queue and is told what came of them (take()), in order.
//
// Delivery:
//  - A ticket kept is handed to its printer unless an earlier one of the
//    printer waits to be sent again (then it waits too, reported
//    "aguardando"). A ticket whose job's state cannot be known, or one of an
//    earlier run not yet matched with its job, holds nothing back.
//  - When the spooler will not list a printer's jobs, each known job is
//    asked for by itself; a ticket whose job still cannot be known (or that
//    has no job to ask for) may have printed: it is never sent again, it is
//    reported once and stays marked for kav-spool.
//  - At each check (follow_up) a look at the spooler is asked for; what it
//    saw is taken in later: a ticket whose job the printer has finished is
//    renamed to "<name>.txt"; a job cancelled or aborted, and a ticket never
//    handed over, is sent again, in order, once its printer takes jobs,
//    unless it is older than the redelivery limit (then it is kept and
//    reported once). A look the spooler did not answer still says how
//    the network printers are: their tickets are followed all the same,
//    and the spooler's own are left as they were. Every delivery is logged with its printer ("Ticket
//    <name>.txt entregue em <printer>"); every attempt, and the success
//    after a first failure, as the redelivery it was ("Impresso em ..."). A ticket still on its way to the spooler is left alone until
//    its hand-over has ended.
//  - Tickets an earlier run left marked are matched with their jobs by name
//    (or by the job note beside them) before anything new is printed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/print/hand_over.h"
#include "platform/print/page_setup.h"
#include "platform/print/spool_store.h"
#include "printing/print_service.h"
#include "printing/printer_profiles.h"

namespace kav::log {
class Alerts;
}

namespace kav::printing {

class PrinterConditions;

inline constexpr std::chrono::minutes kRedeliveryLimit{30};

// Receives the text of a line for the day's log (Windows-1252, at most 106
// characters; the log adds the date and the time).
using PrintReport = std::function<void(std::string_view text)>;

struct Ticket {
  // Where a ticket stands in its delivery.
  enum class State {
    on_its_way,   // queued for the hand-over, or being handed over
    handed_over,  // the spooler has it as `job`, followed until its printer finishes it
    undelivered,  // not delivered: sent again, in order, once its printer takes jobs
    to_match,     // left by an earlier run: its job is looked up by name or by its note
    unknown,      // its job's state could not be learnt: never sent again by itself
  };

  std::string folder;   // Windows path of the printer's spool folder
  std::string base;     // the name without mark and extension
  std::string printer;  // the spooler's name of the printer
  platform::print::PageSetup page;
  int job = 0;  // the spooler's job, 0 while not known (kept when its state turns unknown)
  State state = State::undelivered;
  // Apart from the state, as they hold whatever it becomes: a delivery that
  // failed or waited (what follows is logged as a redelivery), the one
  // report of a ticket too old to be sent again, and why it was last not
  // delivered.
  bool troubled = false;
  bool expiry_reported = false;
  platform::print::Outcome outcome = platform::print::Outcome::accepted;
  std::string order;  // the order it prints, as printed; empty when not known (an earlier run's)
  // Printed again by the monitor, marked, after its fate was not known:
  // not again by itself.
  bool possible_copy = false;
  // Kept for this printer in place of another's (a backup, or sent by the
  // operator): never sent on to a further printer by itself.
  bool rehomed = false;
  unsigned long unknown_since = 0;  // the check at which its state turned unknown
  // For a ticket kept in this run: the clock's monotonic milliseconds
  // (Clock::monotonic_ms) at the moment its age was 0. Set by the ledger.
  std::optional<std::int64_t> born_ms;
};

// Keeps `text` (the ticket of `from` as kept) as a new ticket of printer
// `to`, under a first line that names the printer it was meant for, and
// hands it over; the name of the new ticket, empty when it could not be kept.
using SendElsewhere = std::function<std::string(const Ticket& from, std::string_view to, std::string text)>;

// A ticket its printer finished: `seconds` from the answer it came from (the
// stamp of its name) to the look that saw it finished.
struct Delivered {
  std::string printer;
  std::string order;
  double seconds = 0;
};

// The orders of a list of tickets as the alerts name them: "comanda 0012",
// "comandas 0012, 0013, 0014 e mais 2"; "tickets" when none is known.
std::string orders_words(const std::vector<std::string>& orders);

// The log's line for a ticket its printer did not take.
std::string not_printed(std::string_view printer, platform::print::Outcome outcome, std::string_view base);
// A printer's name as the log and the alerts show it: control bytes blanked.
std::string shown_printer(std::string_view name);

class Ledger {
 public:
  // `board` may be null (no alerts); it must outlive the ledger otherwise.
  Ledger(platform::print::SpoolStore& store, platform::Clock& clock, platform::print::HandOverQueue& queue,
         PrintReport report, log::Alerts* board, std::chrono::minutes redelivery_limit = kRedeliveryLimit);

  // Takes in what an earlier run left in the spool: marked tickets to follow,
  // unfinished ones of the pieces of work `pending_work` (done over) or kept
  // after all are dropped, others reported. Every stamp found is noted in
  // `stamps`.
  void start(const std::vector<std::string>& pending_work, platform::StampSequence& stamps);

  // A ticket kept in the spool under its marked name: handed over, or left
  // to wait behind the undelivered tickets of its printer.
  void kept(Ticket t, std::string text);
  // A ticket the spool could not keep: nothing would make it again, so its
  // printer is tried all the same (nothing is noted beside it).
  void not_kept(Ticket t, std::string text);
  // The spool folder of `printer` could not keep a ticket (of `order`, when
  // known), or could again.
  void spool_failed(std::string_view printer, std::string_view order = {});
  void spool_kept(std::string_view printer);

  // At a check: asks for a look at the spooler when tickets wait. True when
  // tickets of an earlier run wait for it: the caller should let it finish
  // and take it in before anything new is printed.
  bool follow_up();
  // On the way out: what looks find from now on only settles tickets their
  // printer finished; nothing is sent again (the next start does that).
  void closing() { closing_ = true; }
  // What the queue did, in order.
  void take(const platform::print::HandOverResult& r);
  // The alerts follow what waits.
  void update_alerts();
  // What network printers say of themselves: each change is logged, and a
  // printer not ready stands as an alert.
  void watch(std::shared_ptr<PrinterConditions> conditions) { conditions_ = std::move(conditions); }
  // Hears of every ticket its printer finished (on the ledger's thread).
  void watch_deliveries(std::function<void(const Delivered&)> watch) { delivered_ = std::move(watch); }
  // A line of the operator's doing for the log (a reprint).
  void report_line(std::string_view text) { report(text); }

  // What a printer away calls for (ledger_away.cpp): the printers'
  // profiles (backup, its limit, the late limit), the layout that marks a
  // ticket's text (none: texts go as they were kept, and a ticket of
  // unknown fate is not printed again by itself), and how a ticket is kept
  // for another printer.
  void set_away_rules(PrinterProfiles profiles, const platform::TicketLayout* layout, SendElsewhere send);
  // The printers the spooler knew at its last look, by name.
  const std::vector<std::string>& known_printers() const { return known_printers_; }
  // Sends a ticket followed and not on its way to `to` in its place (the
  // original settled); the new ticket's name, empty when it could not be
  // done (its text unreadable, or the copy not kept).
  std::string send_elsewhere(std::string_view folder, std::string_view base, std::string_view to,
                             std::string_view why);
  // Hands a ticket too old to be sent by itself (or of unknown fate) to
  // its printer now, as the operator asks: with its late mark (and, for
  // one of unknown fate, the possible-copy mark). False when it is not
  // such a ticket or its text cannot be read.
  bool deliver_now(std::string_view folder, std::string_view base);

  // Where a kept ticket stands, for a reprint asked for by the operator.
  enum class Standing {
    not_followed,  // not among the tickets followed (printed, or never handed over)
    in_queue,      // on its way to the spooler, or handed over and not finished
    matching,      // left by an earlier run, not yet matched with its job
    resending,     // not delivered: sent again by itself once its printer takes it
    stuck,         // not sent again by itself: too old
    uncertain,     // its state unknown: it may have printed
  };
  Standing standing(std::string_view folder, std::string_view base);
  // The operator replaced a stuck ticket (a second copy was kept): it is no
  // longer followed and loses its mark. False when the mark could not go.
  bool settle_by_hand(std::string_view folder, std::string_view base);

  // How old a ticket is, for the redelivery limit and for being late. One
  // kept in this run: by the monotonic clock since it was kept, plus the age
  // its name's stamp had then, so that a clock set forward or back neither
  // ages it nor makes it young. One of an earlier run: by the date and time
  // of its name against the clock's; kUnknownAge (old) when its name is
  // dated more than a minute ahead of the clock or carries no stamp.
  static constexpr std::chrono::milliseconds kUnknownAge = std::chrono::milliseconds::max();
  std::chrono::milliseconds age(const Ticket& t);

  // True while a ticket of `printer` is on its way to the spooler.
  bool in_flight_for(std::string_view printer) const;
  // The tickets kept and not yet finished by their printer, in order.
  const std::vector<Ticket>& waiting() const { return tickets_; }

 private:
  std::string job_title_of(const Ticket& t) const;
  bool expired(const Ticket& t) { return age(t) > redelivery_limit_; }
  void born(Ticket& t);
  bool waits_behind(std::string_view printer);
  void settle_printed(const Ticket& t);
  void hand_over(const Ticket& t, std::string text, bool redelivery, bool kept, bool nothing_on_its_way);
  void take_hand_over(const platform::print::Handed& h);
  void apply_look(const platform::print::Looked& look);
  void apply_printers_look(const platform::print::Looked& look);
  bool still_followed(Ticket& t, const platform::print::Looked& look);
  enum class Match { matched, printed, unknown };
  Match match_with_job(Ticket& t, const platform::print::Looked& look);
  void redeliver(const platform::print::Looked& look);
  void state_unknown(Ticket& t);
  void report(std::string_view text);

  // The steps of update_alerts.
  struct Waiting {
    std::string printer;
    std::vector<std::string> undelivered, old, unknown, uncertain;
    platform::print::Outcome outcome = platform::print::Outcome::failed;
    bool marked_again = true;  // every ticket of unknown fate without a job is (to be) printed marked
  };
  void log_printer_news();
  std::map<std::string, Waiting> waiting_by_printer();
  std::map<std::string, std::string> waiting_alerts(const std::map<std::string, Waiting>& by_printer) const;
  void raise_alerts(const std::map<std::string, std::string>& up);

  // ledger_away.cpp
  std::string late_stamped(const Ticket& t, std::string text);
  bool reprint_unknown(Ticket& t);
  // Of unknown fate with no job to ask for: none followed, none noted (or a
  // note that names none).
  bool without_job(const Ticket& t);
  void note_away(const std::string& key, bool away);
  void send_to_backups(const platform::print::Looked& look);
  void away_alerts(std::map<std::string, std::string>& up);
  void printer_alerts(std::map<std::string, std::string>& up);
  std::string waiting_words(const std::string& key, std::vector<std::string> orders);
  std::string order_of(const Ticket& t);

  platform::print::SpoolStore& store_;
  platform::Clock& clock_;
  platform::print::HandOverQueue& queue_;
  PrintReport report_;
  log::Alerts* board_;
  std::chrono::minutes redelivery_limit_;

  std::string root_host_;
  std::vector<Ticket> tickets_;
  std::set<std::string> unlisted_;  // printers (by key) whose jobs the last look could not list
  // The printers (by key, with their names) whose jobs the look just taken
  // in could not list: alerted once even when that look settled them all.
  std::map<std::string, std::string> unread_by_look_;
  std::map<std::string, std::string> spool_failed_;  // printers (by key) whose spool failed last, and the text
  std::map<std::string, std::vector<std::string>> spool_failed_orders_;  // the orders of the tickets not kept
  unsigned long check_ = 0;    // counts the checks (follow-ups)
  bool look_pending_ = false;  // a look asked for and not yet taken in
  bool closing_ = false;       // the last look was asked for: nothing more is sent
  int highest_job_ = 0;        // the highest job number handed over
  std::shared_ptr<PrinterConditions> conditions_;
  std::function<void(const Delivered&)> delivered_;

  // What a printer away calls for (set_away_rules()).
  PrinterProfiles profiles_;
  const platform::TicketLayout* layout_ = nullptr;
  SendElsewhere send_;
  std::vector<std::string> known_printers_;
  std::map<std::string, std::int64_t> away_since_;  // printers (by key) away since (centiseconds of the clock)
  // Printers (by key) whose tickets went to their backup while away: the
  // backup's name and the orders sent.
  struct Rehomed {
    std::string printer, backup;
    std::vector<std::string> orders;
  };
  std::map<std::string, Rehomed> rehomed_;
  std::set<std::string> unlisted_said_;  // printers (by key) whose unreadable queue was logged this run
};

}  // namespace kav::printing
