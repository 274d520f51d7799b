// The operating system's side of printing: hands a finished ticket to the
// printer of a given name and, on later looks, tells what became of the job.
// Nothing here waits for a printer: a hand-over returns as soon as the
// spooler holds the job.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/print/page_setup.h"

namespace kav::platform::print {

struct TicketJob {
  std::string printer;    // the spooler's name of the printer (Windows-1252)
  std::string title;      // the job's name in the printer's queue
  PageSetup page;         // the form and font from the printer information file
};

enum class Outcome {
  printed,          // the printer has finished the job
  accepted,         // the queue holds the job and has not failed it
  no_printer,       // no printer was named
  unknown_printer,  // no printer of that name
  refused,          // the spooler would not take the job
  aborted,          // the spooler cancelled or aborted the job
  stopped,          // the printer is paused, or takes no jobs
  waiting,          // not tried: behind an earlier ticket its printer did not take
  failed,           // the spooler could not be reached, or the transfer failed
  uncertain,        // the transfer broke off after it began: the ticket may have printed
};

struct Delivery {
  Outcome outcome = Outcome::failed;
  int job_id = 0;      // the spooler's job number, when it made one
  std::string detail;  // the spooler's own words, for the log

  bool delivered() const { return outcome == Outcome::printed || outcome == Outcome::accepted; }
};

// A paper as a printer's driver knows it.
struct Paper {
  std::string name;  // the spooler's or the driver's name for it, for the log
  int width = 0;     // tenths of a millimetre; 0 when not known
  int length = 0;    // tenths of a millimetre; 0 when not known
};

enum class PrinterState {
  unknown,  // no printer of that name (or the spooler could not be reached)
  ready,    // takes jobs and is not paused
  stopped,  // paused, or refuses new jobs
};

enum class JobState {
  pending,    // waiting, held or printing: not finished yet
  completed,  // the printer has finished it
  aborted,    // cancelled or aborted: it will not print
  gone,       // the spooler no longer knows the job
  unknown,    // the spooler could not be asked (it may have printed the job)
};

struct JobInfo {
  int id = 0;
  std::string printer;  // Windows-1252
  std::string title;
  JobState state = JobState::pending;
};

class PrinterOutlet {
 public:
  virtual ~PrinterOutlet() = default;

  // Takes one fresh look at the spooler: the state of every printer and the
  // jobs of the printers in `job_printers` (finished ones included, where the
  // spooler keeps them) whose number is at least `first_job` (0: all).
  // False when the spooler cannot be reached. A printer of `job_printers`
  // whose jobs could not be listed is named in unlisted() (its jobs are then
  // to be asked for one by one).
  virtual bool refresh(const std::set<std::string>& job_printers, int first_job = 0) = 0;
  // The printers whose jobs the last refresh() could not list.
  const std::set<std::string>& unlisted() const { return unlisted_; }
  // As seen by the last refresh().
  virtual PrinterState printer(std::string_view name) const = 0;
  virtual const std::vector<JobInfo>& jobs() const = 0;
  // One job asked for by itself, for a job the last refresh did not list.
  virtual JobState job(std::string_view printer, int job_id) = 0;
  // The name of one job asked for by itself, for a job listed without it (a
  // spooler may leave names out: CUPS does for finished jobs it no longer
  // holds in memory); empty when unknown.
  virtual std::string job_name(int /*job_id*/) { return {}; }

  // Hands `ticket` (Windows-1252 text, lines ended by the platform's line
  // end) to the job's printer, converted the way that printer takes text,
  // on the job's page and in its font as far as the spooler allows.
  // Returns accepted with the job number as soon as the spooler holds it.
  virtual Delivery submit(const TicketJob& job, std::string_view ticket) = 0;
  // Hands `bytes` to the job's printer as they stand, past its driver (a
  // raw job: the printer's own command language). The job's page is not
  // used.
  virtual Delivery submit_raw(const TicketJob& /*job*/, std::string_view /*bytes*/) {
    return Delivery{Outcome::failed, 0, "raw jobs not supported"};
  }
  // The paper the printer's driver prints on when a job names none; nothing
  // when the printer or its paper is not known. Keeps nothing between calls.
  virtual std::optional<Paper> default_paper(std::string_view /*printer*/) { return std::nullopt; }

 protected:
  std::set<std::string> unlisted_;  // set by refresh()
};

// The operating system's spooler (CUPS on POSIX systems, the Windows spooler
// on Windows).
std::unique_ptr<PrinterOutlet> make_os_outlet();

}  // namespace kav::platform::print
