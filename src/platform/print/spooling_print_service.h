// The print service: lays out each job with the layout it is given, keeps the ticket
// durably in the spool folder and then hands it to the printer.
//
// Closing a job:
//  1. The ticket is written to "<name>.tmp" in its printer's spool folder,
//     flushed and synced, and renamed to "<name>-NAO-ENTREGUE.txt".
//  2. It is handed to the printer. Only when the printer took it is it renamed
//     to "<name>.txt"; so a ticket whose delivery failed, or was cut short by
//     a crash or a power cut, stays marked as not delivered.
//  3. A ticket not delivered is reported for the day's log; the next job
//     follows as usual.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/print/outlet.h"
#include "platform/print/printer_info.h"
#include "platform/print_service.h"

namespace kav::platform::print {

class SpoolingPrintService final : public PrintService {
 public:
  SpoolingPrintService(FileSystem& files, Clock& clock, const TicketLayout& layout,
                       std::unique_ptr<PrinterOutlet> outlet, PrintReport report);
  ~SpoolingPrintService() override;

  std::string open(std::string_view print_form, std::string_view printer_info_path) override;
  std::string write(std::string_view group, std::string_view print_record) override;
  std::string close() override;

  // The Windows path of the last ticket kept (empty before the first), and
  // what became of its delivery.
  const std::string& last_ticket() const { return last_ticket_; }
  const Delivery& last_delivery() const { return last_delivery_; }

 private:
  std::string next_base_name(const std::string& folder);
  bool keep(const std::string& tmp, const std::string& path, const std::string& text);
  void report(std::string_view text);

  FileSystem& files_;
  Clock& clock_;
  const TicketLayout& layout_;
  std::unique_ptr<PrinterOutlet> outlet_;
  PrintReport report_;

  bool open_ = false;
  PrinterSettings settings_;
  std::vector<std::string> lines_;

  std::string last_stamp_;  // names never sort before an earlier one
  unsigned long sequence_ = 0;
  std::string last_ticket_;
  Delivery last_delivery_;
};

}  // namespace kav::platform::print
