// The print service of this machine: lays out each job with the layout it is
// given, keeps the ticket durably in the spool folder and hands it to the
// printer without waiting. It puts together the three rooms of printing:
//   - the spool store (platform/print/spool_store.h): the files;
//   - the hand-over worker (platform/print/hand_over.h): the spooler;
//   - the ledger (printing/ledger.h): delivery, redelivery, the log's lines
//     and the alerts.
// What it does itself is building a job and naming and keeping its ticket.
//
// Closing a job:
//  1. The ticket is written to "<name>.tmp" in its printer's spool folder.
//     Within a piece of work it is synced and renamed to
//     "<name>-NAO-ENTREGUE.txt" with the other tickets of the work when the
//     work ends, and the folders are synced once (end_work); outside one,
//     at once.
//  2. A ticket kept goes to the ledger, which hands it to its printer or
//     lets it wait (see there).
//
// The job's name in the spooler is the ticket's name followed by a tag of the
// spool folder, so after a crash the tickets already handed over are found
// in the spooler by name and not sent twice.
//
// The stamps of pieces of work (new_work_id) are this service's alone: they
// follow the clock, every stamp given before, every piece of work begun or
// pending and every ticket the spool holds.
//
// Threads: every operation of the service is called from one thread. Only
// the worker uses the outlet; besides, it writes the job notes through the
// file system, which must then be safe to use from two threads (the
// operating system's are). Renames, reports and alerts are the calling
// thread's alone, made within the service's operations.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/print/hand_over.h"
#include "platform/print/outlet.h"
#include "platform/print/printer_info.h"
#include "platform/print/spool_store.h"
#include "printing/print_service.h"
#include "printing/ledger.h"
#include "printing/printer_profiles.h"
#include "printing/reprint.h"
#include "printing/sheet_watch.h"

namespace kav::printing {

using platform::print::HandOver;

struct SpoolOptions {
  HandOver hand_over = HandOver::in_caller;
  std::chrono::minutes redelivery_limit = kRedeliveryLimit;
  // What the network printers say of themselves (profiled_outlet.h), when
  // the outlet speaks to any: logged and alerted by the ledger.
  std::shared_ptr<PrinterConditions> conditions;
  // The printers' profiles, for their test pages.
  PrinterProfiles profiles;
  // Whose default paper is a sheet, for the test page of a driver printer
  // (null: not asked).
  std::shared_ptr<SheetWatch> sheets;
};

// How long the way out waits for the spooler's last look.
inline constexpr std::chrono::seconds kLastLook{5};

// Reprints (printing/reprint.h): a ticket printed again becomes a ticket of
// its own, its text marked as a second copy and kept in its printer's
// folder under a new name, then handed over and followed like every other:
// it goes through the one hand-over queue, after what is queued before it,
// and is sent again if its printer fails it. A ticket the monitor still
// follows is not copied while it will be delivered by itself (queued, or
// waiting to be sent again); one that will not (too old, or its state
// unknown) is replaced by its copy and settled, so it never prints twice.
class SpoolingPrintService final : public platform::PrintService, public Reprints {
 public:
  // `board` (may be null: no alerts) must outlive the service.
  SpoolingPrintService(platform::FileSystem& files, platform::Clock& clock, const platform::TicketLayout& layout,
                       std::unique_ptr<platform::print::PrinterOutlet> outlet, PrintReport report,
                       log::Alerts* board = nullptr, SpoolOptions options = {});
  // Finishes (below) when that was not done.
  ~SpoolingPrintService() override;

  platform::Status open(std::string_view print_form, std::string_view printer_info_path) override;
  platform::Status write(std::string_view group, std::string_view print_record) override;
  platform::Status close() override;

  void start(const std::vector<std::string>& pending_work) override;
  void follow_up() override;
  std::string new_work_id() override;
  void begin_work(std::string_view work_id) override;
  bool end_work() override;
  // Hands over what is queued, takes one last look at the spooler (bounded
  // in time), reports what came of it and ends the worker; once.
  void finish() override;

  // Reprints
  std::vector<KeptTicket> recent(std::size_t limit) override;
  platform::Status reprint(const KeptTicket& ticket) override;
  // Queued behind the printer's tickets on the one hand-over worker.
  platform::Status test_page(std::string_view printer) override;

  // Waits until every ticket queued so far has been handed over (or found
  // not deliverable), and takes in what became of them.
  void wait_for_hand_overs();

  // The Windows path of the last ticket kept (empty before the first).
  const std::string& last_ticket() const { return last_ticket_; }
  // The tickets kept and not yet finished by their printer, in order.
  const std::vector<Ticket>& waiting() const { return ledger_.waiting(); }
  // Hears of every ticket its printer finished, on the thread that calls
  // the service.
  void watch_deliveries(std::function<void(const Delivered&)> watch) { ledger_.watch_deliveries(std::move(watch)); }

 private:
  // A ticket written and not yet kept under its name: its work has not ended.
  struct Staged {
    Ticket ticket;
    std::string text;
    std::unique_ptr<platform::File> file;  // open, written, not yet synced
  };

  std::string now_stamp() { return platform::stamp_now(clock_); }
  std::string next_base_name(const std::string& folder);
  void drop_staged();
  // Takes in what the worker did: job numbers, reports, looks.
  void collect();

  platform::Clock& clock_;
  const platform::TicketLayout& layout_;
  platform::FileSystem& files_;
  SpoolOptions options_;
  platform::print::SpoolStore store_;
  platform::print::HandOverWorker worker_;
  Ledger ledger_;

  bool open_ = false;
  platform::print::PrinterSettings settings_;
  std::string made_at_;  // the stamp of the job's opening: when its ticket is made
  std::vector<std::string> lines_;

  bool started_ = false;
  bool finished_ = false;
  std::string work_;  // the piece of work under way, or empty
  unsigned long job_no_ = 0;
  bool work_ok_ = true;
  std::vector<Staged> staged_;  // the tickets of the work, not yet kept

  platform::StampSequence stamps_;  // names never sort before an earlier one
  std::string work_floor_;          // the last work's stamp
  unsigned long sequence_ = 0;
  std::string last_ticket_;
  std::map<std::string, platform::TicketFacts> facts_;  // of the tickets last listed
};

// The print service of this machine. Each printer prints by its profile in
// kavcomanda.ini (printer_profiles.h); what the file gets wrong is logged and
// stands as the alert "configuracao-impressoras" (a printer whose section is
// refused prints through the driver). Tickets are laid out with `layout`
// (which must outlive the service), kept as text files in
// C:\OrbelaTeknovarium\Spool\<printer>\ and handed to the printer of that
// name through the operating system's spooler (CUPS on POSIX systems, the
// Windows spooler on Windows), off the caller's thread. Reports and alerts
// (on `board`, which must outlive the service) are made on the caller's
// thread, from within the service's operations.
// The profiles' problems to the day's log and the alert board, and each
// printer not printing through its driver to the log.
void report_profiles(const PrinterProfiles& profiles, const PrintReport& report, log::Alerts* board);

std::unique_ptr<SpoolingPrintService> make_print_service(platform::FileSystem& files, platform::Clock& clock,
                                                         const platform::TicketLayout& layout, PrintReport report,
                                                         log::Alerts* board = nullptr);

}  // namespace kav::printing
