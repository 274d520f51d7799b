// The outlet that gives each printer its profile (printer_profiles.h): it
// stands between the hand-over and the operating system's spooler.
//   driver       the ticket goes to the spooler as text, as always;
//   escpos       the ticket becomes ESC/POS bytes (platform/print/escpos.h),
//                handed to the spooler as a raw job, tracked like any job;
//   escpos-rede  the bytes go straight to the printer's network port
//                (platform/print/net_printer.h), its status asked before and
//                after; the spooler never sees them.
// A network printer looks to the hand-over like a spooler's printer: ready
// or stopped by its status (asked once a look, only when wanted), and its
// tickets either printed at once (Outcome::printed), not taken
// (Outcome::stopped), or of unknown fate (Outcome::uncertain). What each
// network printer last said is kept in PrinterConditions, which the ledger
// reads on its own thread for the log and the alerts.
//
// It runs on the hand-over's worker, so each printer has one connection at a
// time.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/print/net_printer.h"
#include "platform/print/outlet.h"
#include "printing/print_service.h"
#include "printing/printer_profiles.h"
#include "printing/sheet_watch.h"

namespace kav::printing {

// What the network printers said last, shared between the worker (which
// hears it) and the ledger (which tells the operator). Thread-safe.
class PrinterConditions {
 public:
  struct Condition {
    std::string printer;  // as the profile names it
    std::string where;    // HOST:PORTA
    platform::print::NetState state = platform::print::NetState::ready;
  };
  void set(const Condition& condition);
  // The changes since the last call, in order.
  std::vector<Condition> take_changes();
  // The printers not ready now.
  std::vector<Condition> troubled() const;

  // A line for the log about a printer, said once (thread-safe as the rest).
  void note(std::string line);
  // The lines noted since the last call, in order.
  std::vector<std::string> take_notes();

  // The printer's words for a state: "COZINHA sem papel" (Windows-1252).
  static std::string words(const Condition& condition);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Condition> now_;  // by printer key
  std::vector<Condition> changes_;
  std::vector<std::string> notes_;
};

// The line of the ticket that carries its order number: the first that holds
// the number the layout reads from it, as a word of its own (kNoLine: none).
std::size_t number_line(const platform::TicketLayout& layout, std::string_view ticket);

// The ticket as its printer's profile prints it in ESC/POS.
std::string escpos_bytes(const PrinterProfile& profile, const platform::TicketLayout& layout,
                         std::string_view ticket);

class ProfiledOutlet final : public platform::print::PrinterOutlet {
 public:
  // `layout` must outlive the outlet.
  ProfiledOutlet(std::unique_ptr<platform::print::PrinterOutlet> spooler, PrinterProfiles profiles,
                 const platform::TicketLayout& layout, std::shared_ptr<PrinterConditions> conditions,
                 platform::print::NetLimits limits = {}, std::shared_ptr<SheetWatch> sheets = nullptr);

  bool refresh(const std::set<std::string>& job_printers, int first_job) override;
  platform::print::PrinterState printer(std::string_view name) const override;
  const std::vector<platform::print::JobInfo>& jobs() const override { return spooler_->jobs(); }
  platform::print::JobState job(std::string_view printer, int job_id) override;
  std::string job_name(int job_id) override { return spooler_->job_name(job_id); }
  platform::print::Delivery submit(const platform::print::TicketJob& job, std::string_view ticket) override;
  platform::print::Delivery submit_raw(const platform::print::TicketJob& job, std::string_view bytes) override;
  std::optional<platform::print::Paper> default_paper(std::string_view printer) override {
    return spooler_->default_paper(printer);
  }

  // The job number noted for a ticket a network printer printed: it has no
  // spooler job; job() calls any job of such a printer finished.
  static constexpr int kNetworkJob = 1;

 private:
  platform::print::NetState status_of(const PrinterProfile& profile) const;
  void heard(const PrinterProfile& profile, platform::print::NetState state) const;
  platform::print::Delivery send_net(const PrinterProfile& profile, std::string_view bytes);

  std::unique_ptr<platform::print::PrinterOutlet> spooler_;
  PrinterProfiles profiles_;
  const platform::TicketLayout& layout_;
  std::shared_ptr<PrinterConditions> conditions_;
  platform::print::NetLimits limits_;
  std::shared_ptr<SheetWatch> sheets_;  // asked before a driver's ticket on a roll form
  mutable std::map<std::string, platform::print::NetState> looked_;  // this look's statuses, by key
};

// The operating system's spooler behind the profiles of kavcomanda.ini, for
// whoever prints outside the print service (kav-spool); the file's problems
// are not reported here (the monitor does that at start).
std::unique_ptr<platform::print::PrinterOutlet> make_profiled_outlet(platform::FileSystem& files,
                                                                     const platform::TicketLayout& layout);

}  // namespace kav::printing
