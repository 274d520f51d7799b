// 90-COMANDAS: the order-processing form. Each opening performs one
// processing run: all pending item prints (CMD_IMP), then all item
// cancellations (CAN_ITE), then all orders to close (CMD_FEC), each command
// repeating its exchange with the web application until an exchange yields
// no work; then the form closes itself.
//
// An answer that holds work is kept before it is used: it becomes the pending
// answer C:\OrbelaTeknovarium\Temp\KAVPEND-<stamp>-<command>.RET (synced)
// and is removed only when every ticket it made is durably in the spool. A
// run first does over, in order, the pending answers an earlier run left
// (the spool recognises the tickets already kept, so none is doubled), after
// the print service has followed up its tickets.
//
// A run stops at the first failure that the next check may mend, and the
// work that waits stays with the web application or on disk:
//   - the web exchange failed (Wget's status, or its time limit): a row, a
//     log line naming the command and the cause, and the alert "web", which
//     the next exchange that ends well clears. A server that is down never
//     looks like one that has no work. A page that answered with an HTTP
//     error (Wget's status 8) ends its command only, under the alert
//     "web.<command>": the server is up, and the other commands still run.
//   - a local write failed (the batch file, the old answer's delete, the
//     pending copy of an answer, FORMPRT.PRT, the spool): nothing more is
//     asked of the web application in this run; the alert "disco" stands
//     until a run meets no such failure. An answer with work that could not
//     be kept stays in GET_KAVCMD.RET, which is then never deleted before it
//     is kept; an answer whose tickets could not all be made stays pending.
// An answer that is not printed (the transfer failed or was cut, the
// page's output ran into it, or it holds text and no record) is kept as
// Temp\KAVFALHA-<stamp>-<command>.RET; the alert "resposta" stands while
// such files remain. They are bounded together (orders/kept_bound.h), and
// an answer kept already is not kept again.
//
// A failure met again, in the same check or check after check, writes its
// log line once and then its count (log/repeated_lines.h); its row is shown
// every time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "board/alerts.h"
#include "board/link_alerts.h"
#include "board/check_report.h"
#include "log/l_link.h"
#include "log/repeated_lines.h"
#include "form/form.h"
#include "orders/command.h"
#include "orders/exchange.h"
#include "orders/kept_bound.h"
#include "orders/pending_journal.h"
#include "orders/ticket_writer.h"
#include "orders/work_areas.h"
#include "platform/platform.h"

namespace kav::orders {

class ComandasForm final : public form::Form {
 public:
  // What each check did goes to `report` (an order row when an answer's
  // tickets are all kept, a row for every failure), for the monitor.
  ComandasForm(log::LLink& link, platform::Platform& platform, std::string web_host, log::Alerts& alerts,
               log::CheckReport& report);

  const form::FormDesign& design() const override { return design_; }
  void tick(form::FormContext& ctx, std::string_view timer) override;
  void form_close(form::FormContext& ctx) override;

  const WorkAreas& areas() const { return areas_; }

  // Who hears of the run: each exchange that reached the web application
  // (an answer, or none to give) or failed, and the end of every run.
  struct Watch {
    std::function<void(bool reached)> exchange;
    std::function<void()> run_ended;
  };
  void watch(Watch watch) { watch_ = std::move(watch); }

  // The operator settles an answer kept aside (its name in Temp, as
  // kept_answers() gives it): printed as far as it reads, each ticket with
  // the line kCheckLine under its head, or discarded. Either is done at the
  // start of the form's next run, logged, and the file removed; the alert
  // "resposta" ends when no kept answer is left.
  enum class Settle { print, discard };
  void settle(std::string name, Settle how) { settles_.push_back({std::move(name), how}); }
  static constexpr std::string_view kCheckLine = "VERIFICAR: resposta retida";
  // From now on each run settles what the operator asked and does nothing
  // else: no pending answer done over, nothing asked of the web
  // application (kav-spool prints a kept answer so while no monitor runs).
  void settle_only() { settle_only_ = true; }

 private:
  // The commands of the processing run.
  void proc_imprime(form::FormContext& ctx);
  void proc_cancela(form::FormContext& ctx);
  void proc_fecha(form::FormContext& ctx);

  // Performs the command's exchange and reads the order number of the
  // answer's first record; an answer with work is kept as pending first.
  // False, with the answer closed, when there is no answer, no record or an
  // end marker.
  bool next_record(form::FormContext& ctx, const Command& command);
  // Repeats the command's exchange and its work until no work comes, or the
  // run gives up.
  void run_command(form::FormContext& ctx, const Command& command);
  // Reads the rest of the open answer of a command and prints it.
  void work_off(form::FormContext& ctx, const Command& command);

  // The kept answers the operator settled since the last run.
  void settle_kept(form::FormContext& ctx);
  void print_kept(form::FormContext& ctx, const std::string& name);
  void settle_only_run(form::FormContext& ctx);
  bool settle_only_ = false;

  // Pending answers: finished at the start of every run.
  void finish_pending(form::FormContext& ctx);
  std::string work_id();
  void begin_pending(std::string path, std::string_view stamp);
  // After the work of an answer: the pending answer is removed when its
  // tickets are all kept, moved aside when the answer was not printed, and
  // stays otherwise (the run then stops).
  void retire(form::FormContext& ctx, const Command& command);

  // Failures that stop the run.
  void web_failure(form::FormContext& ctx, const Command& command);
  void disk_failure(form::FormContext& ctx, const std::string& text);
  // The report of an answer with work that could not be kept as pending.
  void keep_for_blocked_printers(form::FormContext& ctx, const Command& command, const std::string& pending);
  std::string unkept_message(std::string_view command) const;
  // Moves what arrived of an answer that is not printed to
  // Temp\KAVFALHA-<stamp>-<command>.RET and reports it; `name_order`: the
  // report names the order of its first record.
  void keep_failed_answer(form::FormContext& ctx, const std::string& from, std::string_view command,
                          bool name_order, std::string_view why = " incompleta");
  // An answer that holds exactly the bytes of one kept already: `from` is
  // removed and the repeat reported (true); false when there is none.
  bool kept_answer_again(form::FormContext& ctx, const std::string& from, std::string_view answer,
                         std::string_view command, bool name_order, std::string_view why);
  // An answer with text and no record the reader recognises.
  void keep_unrecognised_answer(form::FormContext& ctx, std::string_view command);
  // Raises the alert "resposta" while answers kept aside remain, clears it
  // when none does.
  void show_failed_answers();
  // The order number of a kept answer's first record; empty when it has none.
  std::string order_of(std::string_view path);
  // After a command has read its answer: logs once what the reader passed
  // over, and when the answer is damaged reports that the order is not
  // printed. True when what was read may be printed.
  bool answer_complete(form::FormContext& ctx, std::string_view command);

  // What each command reads of its answer, after the order number of its
  // first record, and what it does with it.
  void read_items();         // CMD_IMP
  void read_cancellation();  // CAN_ITE
  void read_bill();          // CMD_FEC
  void print_items(form::FormContext& ctx);
  void print_cancellation(form::FormContext& ctx);
  void print_bill(form::FormContext& ctx);
  void print_bill_totals(std::uint64_t subtotal);

  // Reports a message: a new row of Lv_Proc and a line in the log. Returns
  // the row's index.
  int log_message(form::FormContext& ctx, std::string_view text);
  // The same for a failure, which the check's report gets too; a repeat
  // of a failure has its row, and its log line only in a count.
  int log_failure(form::FormContext& ctx, std::string_view text);
  // A log line without a row, written once while it repeats.
  void log_repeatable(form::FormContext& ctx, std::string_view text);
  // Whether a failure's log line is written now (not a repeat).
  bool first_of_repeats(std::string_view text);
  // The counts of the repeats at the end of a run.
  void log_repeats(form::FormContext& ctx);
  // Removes the oldest kept answers past the bound, each logged.
  void bound_kept(form::FormContext& ctx, const std::string& newest);

  log::LLink& link_;
  platform::Platform& platform_;
  log::Alerts& alerts_;
  Watch watch_;
  log::LinkAlerts link_alerts_;
  log::CheckReport& report_;
  form::FormDesign design_;
  Exchange exchange_;
  KeptBound kept_bound_;
  log::RepeatedLines repeats_;
  WorkAreas areas_;
  PendingJournal journal_;
  TicketWriter tickets_;
  // The ERP files this form declares; it never opens them.
  std::unique_ptr<platform::KeyedFile> paramet_, vendedo_, produto_;

  bool started_ = false;
  std::string pending_;  // the pending answer being worked off, or empty
  std::vector<std::pair<std::string, Settle>> settles_;
  bool settling_ = false;  // a kept answer is printed: as far as it reads

  // Limits: an order larger than the answer work areas, and a command that
  // keeps finding work (proc_imprime.cpp, proc_fecha.cpp, run_command).
 public:
  // Answers with work that one command handles in one run; then the run goes
  // on with the next command and the rest waits for the next check.
  // Past it with distinct orders (a rush), the next check starts at once;
  // the alert is for the same orders handed out again and again.
  static constexpr std::size_t kMaxAnswersPerCommand = 50;
  // Distinct printers of one order that get item tickets: TAB-IMPRESSORAS
  // is filled 20 names at a time, this many in all.
  static constexpr std::size_t kMaxPrintersPerOrder = 100;

 private:
  // CMD_IMP: registers an item's printer in TAB-IMPRESSORAS, or past it.
  void register_printer(const std::string& name);
  // CMD_IMP: one ticket per printer of TAB-IMPRESSORAS, each with its items.
  void print_printer_round();
  // Reads the item records of the current answer once more from its start,
  // one at a time, handing each to `each`; the number handed, or nothing
  // when the answer cannot be opened again or is not the same order.
  std::optional<std::size_t> reread_items(const Command& command, const std::function<void(const Item&)>& each);
  // Reports what the limits left out: a row of Lv_Proc, the log, an alert
  // under `alert_key` (it ends when the same order prints in full).
  void report_left_out(form::FormContext& ctx, const std::string& alert_key, const std::string& text);

  std::size_t items_read_ = 0;              // item records of the answer, those past TAB-ITENS too
  std::uint64_t subtotal_read_ = 0;         // CMD_FEC: products total of every item record read
  std::vector<std::string> more_printers_;  // CMD_IMP: printers past TAB-IMPRESSORAS, in order
  std::size_t items_without_ticket_ = 0;    // CMD_IMP: items of printers past kMaxPrintersPerOrder
  std::optional<std::size_t> left_out_after_;  // a ticket of this answer lacks the items past this one

  bool give_up_ = false;      // this run asks nothing more
  bool work_left_ = false;    // a command stopped at its bound with distinct orders
  // The orders handled (command, number, code) since the last run that
  // left no work.
  std::set<std::string> seen_;
  bool disk_failed_ = false;  // a local write failed in this run
  // Of the answer being worked off: it is not printed (kept aside).
  bool answer_failed_ = false;
  // Of the answer being worked off: where its rows begin in the check's report.
  std::size_t report_mark_ = 0;
};

}  // namespace kav::orders
