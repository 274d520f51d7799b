// Reprints: the tickets the spool keeps, as the operator sees them (time,
// order, printer, kind, state), and the rules by which one is printed again.
//
// Two ways out, one set of rules:
//  - By itself (kav-spool, the monitor stopped): DirectReprint hands the
//    ticket to the spooler through its own outlet, under the one-monitor
//    lock the caller holds, and follows the job.
//  - Inside the running monitor: the print service makes the reprint a
//    ticket of its own (Reprints, implemented by SpoolingPrintService), so
//    it goes through the same hand-over queue, is followed and sent again
//    like any other ticket, and never races the monitor's own delivery.
//
// Either way nothing prints twice by accident: a ticket the monitor has not
// delivered yet is first looked up by its job (a job the printer finished
// is settled, one still queued is left alone); every reprint carries the
// layout's second-copy mark ("2ª via") and goes to the day's log.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/print/outlet.h"
#include "platform/status.h"
#include "printing/print_service.h"

namespace kav::printing {

// What the operator reads of a ticket's state.
enum class TicketState {
  printed,      // "impresso": its printer finished it (or it was settled by hand)
  waiting,      // "aguardando": handed over, the printer has not finished it
  undelivered,  // "não entregue": not handed over, or its printer failed it
  late,         // "não entregue (atrasado)": too old to be sent by itself; printed from the window
  uncertain,    // "sem situação": it may have printed (printed again marked "POSSÍVEL 2ª VIA")
};

// A ticket kept in the spool.
struct KeptTicket {
  std::string folder;       // Windows path of its printer's spool folder
  std::string folder_name;  // the folder's own name
  std::string printer;      // empty for the folder of tickets without a printer
  std::string base;         // "YYYYMMDD-HHMMSScc-NNNNNN"
  std::string file_name;
  bool marked = false;     // "-NAO-ENTREGUE": its printer has not finished it
  bool unfinished = false;  // "<name>.tmp": still being written (listed only when asked for)
  bool job_noted = false;  // a job note beside it: handed over
  bool filed = false;      // printed, of an earlier day: in its day's folder
  TicketState state = TicketState::printed;
  platform::TicketFacts facts;  // read from its text (recent() only)

  std::string path() const { return folder + "\\" + (filed ? date() + "\\" : std::string()) + file_name; }
  // "HH:MM:SS" of the stamp in its name; empty when the name has none.
  std::string time() const;
  // As the list shows when it was made: "HH:MM:SS" on the day `today`
  // (YYYYMMDD), "dd/mm HH:MM:SS" on another day.
  std::string moment(std::string_view today) const;
  // "YYYYMMDD" of the stamp in its name.
  std::string date() const { return base.substr(0, 8); }
};

// The text of a kept ticket, found where it is: a printed ticket listed
// before it was filed in its day's folder is read there.
bool read_kept_ticket(platform::FileSystem& files, const KeptTicket& ticket, std::string& text);

// The words of the list (Windows-1252).
std::string state_text(TicketState state);
std::string kind_text(platform::TicketFacts::Kind kind);

// The spool as the operator browses it.
class SpoolView {
 public:
  SpoolView(platform::FileSystem& files, const platform::TicketLayout& layout) : files_(files), layout_(layout) {}

  // Every ticket (kept, marked or not), folder by folder and name by name,
  // of one printer only when `printer` is given (its name or its folder's,
  // case ignored), with the unfinished ones when `with_unfinished`. Their
  // texts are not read.
  std::vector<KeptTicket> all(const std::optional<std::string>& printer = std::nullopt, bool with_unfinished = false);
  // The same without the printed tickets dated before `since` (YYYYMMDD):
  // only those of the printers' own folders are read, not the day folders
  // of a year. `earlier` tells whether any was left out.
  std::vector<KeptTicket> since(std::string_view since, bool& earlier,
                                const std::optional<std::string>& printer = std::nullopt,
                                bool with_unfinished = false);
  // The `limit` newest tickets of every printer, newest first, with their
  // facts read from their texts (or taken from `known`, by path, which then
  // keeps those of the tickets listed: a kept ticket's text never changes).
  std::vector<KeptTicket> recent(std::size_t limit, std::map<std::string, platform::TicketFacts>* known = nullptr);
  // The same of the tickets named (folder, base), newest first, as the
  // spool store knows its newest tickets (spool_store.h): only their own
  // files are looked at, however many the folders hold. Tickets no longer
  // there are left out; at most `limit`.
  std::vector<KeptTicket> recent_of(const std::vector<std::pair<std::string, std::string>>& names,
                                    std::size_t limit,
                                    std::map<std::string, platform::TicketFacts>* known = nullptr);
  // A ticket by its printer and its name (with or without mark and
  // extension), an unfinished one too, a filed one by its name's day.
  std::optional<KeptTicket> find(std::string_view printer, std::string_view ticket);
  // The tickets of `chosen`'s day, every printer's, with their facts read
  // from their texts (`chosen`'s own facts too): what tickets_of_order needs.
  std::vector<KeptTicket> day_of(KeptTicket& chosen);
  bool text(const KeptTicket& ticket, std::string& out);

 private:
  std::vector<std::string> folders(const std::optional<std::string>& printer);
  void read_folder(const std::string& folder, std::string_view since, bool& earlier, bool with_unfinished,
                   std::vector<KeptTicket>& out);
  void read_day(const std::string& folder, std::string_view day, std::vector<KeptTicket>& out);
  void read_facts(std::vector<KeptTicket>& tickets, std::map<std::string, platform::TicketFacts>* known);

  platform::FileSystem& files_;
  const platform::TicketLayout& layout_;
};

// The tickets of the order of `chosen` among `tickets` (as recent() gives
// them), oldest first: the same order number on the same day, from the
// ticket after the bill before `chosen` to the bill that closed the order
// (an order's number is used again once its bill is printed). Second copies
// are left out; so is everything when `chosen` names no order.
std::vector<KeptTicket> tickets_of_order(const std::vector<KeptTicket>& tickets, const KeptTicket& chosen);
// Those of them of the kind of `chosen`: for a bill the bill alone, for an
// item ticket the order's item tickets, for a cancellation its cancellation
// tickets. A copy of what was asked: a bill's copy sends nothing to the
// kitchen.
std::vector<KeptTicket> tickets_of_order_like(const std::vector<KeptTicket>& tickets, const KeptTicket& chosen);

// Reprints inside the running monitor.
class Reprints {
 public:
  virtual ~Reprints() = default;
  // The newest tickets, newest first, with the state the monitor knows.
  virtual std::vector<KeptTicket> recent(std::size_t limit) = 0;
  // Prints the ticket again, as a second copy. The message, ok or not, is
  // what the operator is told (Windows-1252).
  virtual platform::Status reprint(const KeptTicket& ticket) = 0;
  // The printers a ticket may be sent to: those the spooler knows and the
  // network printers of the profiles, by name.
  virtual std::vector<std::string> printers() { return {}; }
  // Sends a ticket not yet printed to `printer` in its place, under a first
  // line that names the printer it was meant for; the original is settled.
  virtual platform::Status send_to(const KeptTicket& ticket, std::string_view printer) {
    return {platform::Status::kRefused, "Ticket " + ticket.base + ": envio para " + std::string(printer) +
                                            " indispon\xEDvel"};
  }
  // Sends the printer's test page (printing/test_page.h); it is not kept.
  virtual platform::Status test_page(std::string_view printer) {
    return {platform::Status::kRefused, "Impressora " + std::string(printer) + ": p\xE1gina de teste indispon\xEDvel"};
  }
};

// kav-spool's reprint: the ticket to the spooler through `outlet`, followed
// for at most a minute. The caller holds the one-monitor lock whenever the
// ticket is marked. `say` and `say_error` take texts for the operator
// (Windows-1252); the log gets its lines.
class DirectReprint {
 public:
  using Say = std::function<void(std::string_view text)>;
  DirectReprint(platform::FileSystem& files, platform::Clock& clock, platform::print::PrinterOutlet& outlet,
                const platform::TicketLayout& layout, Say say, Say say_error)
      : files_(files), clock_(clock), outlet_(outlet), layout_(layout), say_(std::move(say)),
        say_error_(std::move(say_error)) {}

  // 0 when printed (or found printed and settled), 1 otherwise. A marked
  // ticket whose noted job the spooler no longer knows (it may have
  // printed) is printed only when `reprint_unknown` (asked for by name).
  int reprint(const KeptTicket& ticket, bool reprint_unknown);

 private:
  bool folder_writable(const KeptTicket& t);
  bool settled_by_its_job(const KeptTicket& t, bool reprint_unknown, int& rc);
  void log(std::string_view text);

  platform::FileSystem& files_;
  platform::Clock& clock_;
  platform::print::PrinterOutlet& outlet_;
  const platform::TicketLayout& layout_;
  Say say_;
  Say say_error_;
};

}  // namespace kav::printing
