// The print service behind the print file of the order-processing form.
//
// A job is opened with a print form name and the printer information file
// just written for it, receives the print record once per group written, and
// becomes one ticket when it is closed. Each operation leaves a two-character
// status:
//   open   "00"; "35" when the printer information file cannot be read (the
//          job is opened all the same, for no printer, so that its ticket is
//          kept); "39" for a print form the service does not know (no job).
//   write  "00"; "23" for a group the print form does not have (nothing is
//          printed); "48" when no job is open.
//   close  "00" when the ticket is written to the spool folder (within a
//          piece of work it is kept when the work ends), whether or not the
//          printer takes it (a ticket it does not take stays marked and is
//          reported); "30" when the spool folder could not take it; "42"
//          when no job is open.
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
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kav::platform {

class Clock;
class FileSystem;

class PrintService {
 public:
  virtual ~PrintService() = default;
  virtual std::string open(std::string_view print_form, std::string_view printer_info_path) = 0;
  virtual std::string write(std::string_view group, std::string_view print_record) = 0;
  virtual std::string close() = 0;

  // Before the first check: finishes what an earlier run left in the spool.
  // `pending_work` names the pieces of work that will be done over.
  virtual void start(const std::vector<std::string>& /*pending_work*/) {}
  // At every check, before new work.
  virtual void follow_up() {}
  // A new identity for a piece of work ("YYYYMMDD-HHMMSScc"), later than
  // every one given before and every ticket kept; empty when the service
  // does not name its tickets by work.
  virtual std::string new_work_id() { return {}; }
  virtual void begin_work(std::string_view /*work_id*/) {}
  virtual bool end_work() { return true; }
};

// The layout of the tickets, which the application hands to the print
// service: the print form it lays out and the lines each of its groups prints.
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
};

// Receives the text of a line for the day's log (Windows-1252, at most 106
// characters; the log adds the date and the time). The print service reports
// through it every ticket that did not reach its printer.
using PrintReport = std::function<void(std::string_view text)>;

// Receives the failures of printing that someone must act on, for as long as
// they last: a text (Windows-1252, at most 106 characters) raises or changes
// the alert of `key`; an empty text ends it. Alerts of the print service:
//   "impressao-pendente:<printer>"  the printer did not take tickets that
//                                   will be sent again by themselves
//   "impressao-antiga:<printer>"    tickets too old to be sent by themselves
//                                   wait for the operator (kav-spool)
//   "impressao-spool:<printer>"     a ticket could not be kept in the spool
using PrintAlert = std::function<void(std::string_view key, std::string_view text)>;

// The print service of this machine. Tickets are laid out with `layout`
// (which must outlive the service), kept as text files in
// C:\OrbelaTeknovarium\Spool\<printer>\ and handed to the printer of that
// name through the operating system's spooler (CUPS on POSIX systems, the
// Windows spooler on Windows), off the caller's thread. Reports and alerts
// are made on the caller's thread, from within the service's operations.
std::unique_ptr<PrintService> make_print_service(FileSystem& files, Clock& clock, const TicketLayout& layout,
                                                 PrintReport report, PrintAlert alert = {});

}  // namespace kav::platform
