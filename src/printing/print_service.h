// The print service behind the print file of the order-processing form.
//
// A job is opened with a print form name and the printer information file
// just written for it, receives the print record once per group written, and
// becomes one ticket when it is closed. Each operation returns a Status:
//   open   ok; kNotFound when the printer information file cannot be read
//          (the job is opened all the same, for no printer, so that its
//          ticket is kept); kBadFile for a print form the service does not
//          know (no job).
//   write  ok; kNoRecord for a group the print form does not have (nothing
//          is printed); kWriteNotOpen when no job is open.
//   close  ok when the ticket is written to the spool folder (within a
//          piece of work it is kept when the work ends), whether or not the
//          printer takes it (a ticket it does not take stays marked and is
//          reported); kFailed when the spool folder could not take it;
//          kNotOpen when no job is open.
//
// Pieces of work: the tickets made between begin_work(id) and end_work()
// are named after the work's identity and their number in it, and a ticket
// already kept under its name is not made again, so a piece of work can be
// done over after a crash without doubling a ticket. end_work() makes every
// ticket of the work durable (tickets are kept together, with one sync of
// each folder) and says whether they all are.
//
// Delivery never waits for a printer: follow_up(), at every check, looks at
// the spooler once, clears the mark of the tickets their printer has
// finished and sends again, in order, the tickets not delivered.
//
// The service of this machine is printing::SpoolingPrintService
// (src/printing/), built on the spool store and the hand-over to the
// spooler of platform/print/.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kav::platform {

class PrintService {
 public:
  virtual ~PrintService() = default;
  virtual Status open(std::string_view print_form, std::string_view printer_info_path) = 0;
  virtual Status write(std::string_view group, std::string_view print_record) = 0;
  virtual Status close() = 0;

  // Before the first check: finishes what an earlier run left in the spool.
  // `pending_work` names the pieces of work that will be done over.
  virtual void start(const std::vector<std::string>& /*pending_work*/) {}
  // At every check, before new work.
  virtual void follow_up() {}
  // A new identity for a piece of work ("YYYYMMDD-HHMMSScc"): the clock's
  // stamp, or a later one, so that it is later than every identity given
  // before, every piece of work begun or pending, and every ticket kept. The
  // print service is the one owner of this sequence: the answers kept for
  // their work are named by it too.
  virtual std::string new_work_id() = 0;
  virtual void begin_work(std::string_view /*work_id*/) {}
  virtual bool end_work() { return true; }
  // On the way out, before the run's end is logged: what is still to be
  // handed over is handed over and the spooler's last word on the tickets
  // is taken in and reported (bounded in time). Nothing is printed after it.
  virtual void finish() {}
};

// What a kept ticket says of itself, as its layout reads it back.
struct TicketFacts {
  enum class Kind { unknown, items, cancellation, bill };
  std::string order;  // the order's number as printed ("0012"); empty when not found
  Kind kind = Kind::unknown;
  bool second_copy = false;  // a reprint, marked as such
  bool possible_copy = false;  // printed again after its fate was not known (kPossibleCopyMark)
  bool late = false;           // handed to its printer late (kLateMark)
};

// The lines a ticket may carry under its order's head, beside "2ª via":
// printed again by the monitor because it may or may not have printed the
// first time; handed to its printer long after it was made (the hour of the
// order follows, "HH:MM").
inline constexpr std::string_view kPossibleCopyMark = "POSS\xCDVEL 2\xAA VIA - conferir";
inline constexpr std::string_view kLateMark = "ATRASADO - pedido \xE0s ";

// The layout of the tickets, which the application hands to the print
// service: the print form it lays out and the lines each of its groups
// prints; and, for reprints, what a kept ticket is and how a second copy of
// it is marked.
class TicketLayout {
 public:
  virtual ~TicketLayout() = default;
  // True when `print_form` (blanks after it ignored, case ignored) names the
  // form of this layout.
  virtual bool is_form(std::string_view print_form) const = 0;
  // The lines that group `group` (blanks after the name ignored) prints with
  // the field values of `print_record`, without line ends. `made_at` is the
  // moment the ticket is made, a stamp "YYYYMMDD-HHMMSScc" of the clock read
  // when its job was opened (the same for every group of the job). Nothing
  // when the form has no such group.
  virtual std::optional<std::vector<std::string>> lines(std::string_view group, std::string_view print_record,
                                                        std::string_view made_at) const = 0;
  // The order and kind of a ticket of this layout (its text as kept).
  virtual TicketFacts facts(std::string_view /*ticket*/) const { return {}; }
  // The ticket marked as a second copy (a ticket already marked is left as
  // it is). `line_end` ends each line of the text.
  virtual std::string second_copy(std::string_view ticket, std::string_view /*line_end*/) const {
    return std::string(ticket);
  }
  // The ticket with `mark` on a line of its own under the order's head (a
  // ticket that already has that line is returned as it is).
  virtual std::string with_mark(std::string_view ticket, std::string_view /*mark*/,
                                std::string_view /*line_end*/) const {
    return std::string(ticket);
  }
};

}  // namespace kav::platform
