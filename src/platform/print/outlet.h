// The operating system's side of printing: hands a finished ticket to the
// printer of a given name and tells whether the printer took it.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace kav::platform::print {

struct TicketJob {
  std::string printer;    // the spooler's name of the printer (Windows-1252)
  std::string title;      // the job's name in the printer's queue
  std::string form_size;  // paper size from the printer information file ("A4"), or empty
};

enum class Outcome {
  printed,          // the printer has finished the job
  accepted,         // the queue holds the job and has not failed it
  no_printer,       // no printer was named
  unknown_printer,  // no printer of that name
  refused,          // the spooler would not take the job
  aborted,          // the spooler cancelled or aborted the job
  stopped,          // the job stands stopped in the queue
  failed,           // the spooler could not be reached, or the transfer failed
};

struct Delivery {
  Outcome outcome = Outcome::failed;
  int job_id = 0;      // the spooler's job number, when it made one
  std::string detail;  // the spooler's own words, for the log

  bool delivered() const { return outcome == Outcome::printed || outcome == Outcome::accepted; }
};

class PrinterOutlet {
 public:
  virtual ~PrinterOutlet() = default;
  // Prints `ticket` (Windows-1252 text, lines ended by the platform's line
  // end) on the job's printer. Returns within a bounded time.
  virtual Delivery deliver(const TicketJob& job, std::string_view ticket) = 0;
};

// The operating system's spooler. A job is followed for at most `follow_for`
// after the spooler took it: a job still waiting or printing then counts as
// accepted.
std::unique_ptr<PrinterOutlet> make_os_outlet(std::chrono::milliseconds follow_for);

}  // namespace kav::platform::print
