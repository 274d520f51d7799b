// The print service: lays out each job with the layout it is given, keeps the
// ticket durably in the spool folder and hands it to the printer without
// waiting.
//
// Closing a job:
//  1. The ticket is written to "<name>.tmp" in its printer's spool folder,
//     flushed and synced, and renamed to "<name>-NAO-ENTREGUE.txt".
//  2. When its printer is known and takes jobs, it is handed over and its
//     job number noted; otherwise it waits, reported in the day's log.
//  3. At each later check (follow_up) the spooler is looked at once: a ticket
//     whose job the printer has finished is renamed to "<name>.txt"; a job
//     cancelled or aborted, and a ticket never handed over, is sent again,
//     in order, once its printer takes jobs, unless it is older than the
//     redelivery limit (then it is kept and reported once). Every attempt
//     and every success after a first failure is logged.
//
// The job's name in the spooler is the ticket's name followed by a tag of the
// spool folder, so after a crash the tickets already handed over are found
// in the spooler by name and not sent twice.
#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/print/outlet.h"
#include "platform/print/printer_info.h"
#include "platform/print_service.h"

namespace kav::platform::print {

inline constexpr std::chrono::minutes kRedeliveryLimit{30};

// The job name under which a ticket of the spool folder `spool_root_host`
// (its host path) goes to the spooler.
std::string job_title(std::string_view base, std::string_view spool_root_host);

// The text of a kept ticket, or nothing when it cannot be read.
bool read_ticket(FileSystem& files, std::string_view path, std::string& text);

class SpoolingPrintService final : public PrintService {
 public:
  struct Ticket {
    std::string folder;   // Windows path of the printer's spool folder
    std::string base;     // the name without mark and extension
    std::string printer;  // the spooler's name of the printer
    PageSetup page;
    int job = 0;                    // the spooler's job, 0 while not handed over
    bool troubled = false;          // a delivery failed: what follows is logged
    bool from_earlier_run = false;  // found at start: its job is looked up by name
    bool expiry_reported = false;
  };

  SpoolingPrintService(FileSystem& files, Clock& clock, const TicketLayout& layout,
                       std::unique_ptr<PrinterOutlet> outlet, PrintReport report,
                       std::chrono::minutes redelivery_limit = kRedeliveryLimit);
  ~SpoolingPrintService() override;

  std::string open(std::string_view print_form, std::string_view printer_info_path) override;
  std::string write(std::string_view group, std::string_view print_record) override;
  std::string close() override;

  void start(const std::vector<std::string>& pending_work) override;
  void follow_up() override;
  std::string new_work_id() override;
  void begin_work(std::string_view work_id) override;
  bool end_work() override;

  // The Windows path of the last ticket kept (empty before the first), and
  // what became of its hand-over.
  const std::string& last_ticket() const { return last_ticket_; }
  const Delivery& last_delivery() const { return last_delivery_; }
  // The tickets kept and not yet finished by their printer, in order.
  const std::vector<Ticket>& waiting() const { return tickets_; }

 private:
  std::string next_base_name(const std::string& folder);
  bool keep(const std::string& tmp, const std::string& path, const std::string& text);
  void report(std::string_view text);
  void look();
  std::string now_stamp();
  bool expired(const Ticket& t);
  std::string path_of(const Ticket& t, bool marked) const;
  std::string job_note(const Ticket& t) const;
  Delivery hand_over(Ticket& t, std::string_view text);
  void settle_printed(const Ticket& t);

  FileSystem& files_;
  Clock& clock_;
  const TicketLayout& layout_;
  std::unique_ptr<PrinterOutlet> outlet_;
  PrintReport report_;
  std::chrono::minutes limit_;

  bool open_ = false;
  PrinterSettings settings_;
  std::string made_at_;  // the stamp of the job's opening: when its ticket is made
  std::vector<std::string> lines_;

  bool started_ = false;
  bool fresh_ = false;      // the spooler was looked at in this check
  bool reachable_ = false;  // and answered
  std::string root_host_;
  std::vector<Ticket> tickets_;

  std::string work_;  // the piece of work under way, or empty
  unsigned long job_no_ = 0;
  bool work_ok_ = true;
  std::set<std::string> touched_;  // spool folders that gained a ticket in this work

  std::string last_stamp_;  // names never sort before an earlier one
  std::string work_floor_;  // the last work's stamp
  unsigned long sequence_ = 0;
  std::string last_ticket_;
  Delivery last_delivery_;
};

}  // namespace kav::platform::print
