// The print service: lays out each job with the layout it is given, keeps the
// ticket durably in the spool folder and hands it to the printer without
// waiting.
//
// Closing a job:
//  1. The ticket is written to "<name>.tmp" in its printer's spool folder.
//     Within a piece of work it is synced and renamed to
//     "<name>-NAO-ENTREGUE.txt" with the other tickets of the work when the
//     work ends, and the folders are synced once (end_work); outside one,
//     at once.
//  2. A ticket kept is handed to its printer when the printer is known and
//     takes jobs, and its job number noted; otherwise it waits, reported in
//     the day's log. The hand-over runs on a worker thread of its own (or,
//     for tests, in the caller's thread): one queue, in order, so a ticket
//     never passes an earlier one of its printer, and a printer that failed
//     one ticket is not asked again for the ones queued behind it.
//  3. At each check (follow_up) the last look at the spooler is taken in and
//     the next one asked for (on the worker, after the hand-overs queued
//     before it): a ticket whose job the printer has finished is renamed to
//     "<name>.txt"; a job cancelled or aborted, and a ticket never handed
//     over, is sent again, in order, once its printer takes jobs, unless it
//     is older than the redelivery limit (then it is kept and reported once).
//     Every attempt and every success after a first failure is logged. A
//     ticket still on its way to the spooler is left alone until its
//     hand-over has ended.
//  4. The failures someone must act on stand as alerts while they last (see
//     PrintAlert).
//
// The job's name in the spooler is the ticket's name followed by a tag of the
// spool folder, so after a crash the tickets already handed over are found
// in the spooler by name and not sent twice.
//
// Threads: every operation of the service is called from one thread. Only
// the worker uses the outlet; besides, it writes the job notes through the
// file system, which must then be safe to use from two threads (the
// operating system's are). Renames, reports and alerts are the calling
// thread's alone, made within the service's operations.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
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

// Where tickets are handed to the spooler.
enum class HandOver {
  in_caller,  // in the thread that closes the job or follows up (tests)
  on_worker,  // on the service's worker thread
};

struct SpoolOptions {
  HandOver hand_over = HandOver::in_caller;
  std::chrono::minutes redelivery_limit = kRedeliveryLimit;
};

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
    bool in_flight = false;            // queued for the hand-over, or being handed over
    Outcome outcome = Outcome::accepted;  // why it was last not delivered
  };

  SpoolingPrintService(FileSystem& files, Clock& clock, const TicketLayout& layout,
                       std::unique_ptr<PrinterOutlet> outlet, PrintReport report, PrintAlert alert = {},
                       SpoolOptions options = {});
  // Hands over what is queued, then ends the worker.
  ~SpoolingPrintService() override;

  std::string open(std::string_view print_form, std::string_view printer_info_path) override;
  std::string write(std::string_view group, std::string_view print_record) override;
  std::string close() override;

  void start(const std::vector<std::string>& pending_work) override;
  void follow_up() override;
  std::string new_work_id() override;
  void begin_work(std::string_view work_id) override;
  bool end_work() override;

  // Waits until every ticket queued so far has been handed over (or found
  // not deliverable), and takes in what became of them.
  void wait_for_hand_overs();

  // The Windows path of the last ticket kept (empty before the first).
  const std::string& last_ticket() const { return last_ticket_; }
  // The tickets kept and not yet finished by their printer, in order.
  const std::vector<Ticket>& waiting() const { return tickets_; }

 private:
  // A ticket written and not yet kept under its name: its work has not ended.
  struct Staged {
    Ticket ticket;
    std::string text;
    std::unique_ptr<File> file;  // open, written, not yet synced
  };
  // A hand-over for the worker, and what came of it.
  struct Job {
    Ticket ticket;
    std::string text;
    bool redelivery = false;
    bool kept = true;  // false: the spool could not keep it (no job note then)
    unsigned long check = 0;
  };
  struct Handed {
    std::string folder, base;
    Delivery delivery;
    bool redelivery = false;
    bool attempted = false;  // false: not tried, behind an earlier ticket its printer did not take
  };
  // A look at the spooler for the worker, and what it saw.
  struct LookRequest {
    unsigned long check = 0;
    std::set<std::string> printers;      // whose state is wanted
    std::set<std::string> job_printers;  // whose jobs are wanted
    int first_job = 0;
    std::vector<std::pair<std::string, int>> ask;  // jobs wanted even when not listed
    std::set<std::string> titles;  // names of jobs wanted even when listed without names
  };
  struct AskedJob {
    std::string printer;
    int id = 0;
    JobState state = JobState::gone;
  };
  struct Looked {
    bool reachable = false;
    std::map<std::string, PrinterState> printers;  // by printer (lower case)
    std::vector<JobInfo> jobs;
    std::vector<AskedJob> asked;
  };
  struct Task {
    bool look = false;
    Job job;
    LookRequest request;
  };
  struct Result {
    bool look = false;
    Handed handed;
    Looked looked;
  };

  std::string next_base_name(const std::string& folder);
  bool keep(const std::string& tmp, const std::string& path, const std::string& text);
  void report(std::string_view text);
  std::string now_stamp();
  bool expired(const Ticket& t);
  std::string path_of(const Ticket& t, bool marked) const;
  std::string job_note(const Ticket& t) const;
  void settle_printed(const Ticket& t);
  bool in_flight_for(std::string_view printer) const;
  bool waits_behind(std::string_view printer);
  void spool_failure(std::string_view printer);
  void kept(Ticket t, std::string text);

  // The hand-over, on the worker (or in the caller). `nothing_on_its_way`:
  // no earlier ticket of the printer is queued or being handed over.
  void queue_hand_over(Job job, bool nothing_on_its_way);
  void queue_task(Task task);
  void worker_loop();
  void wait_until_idle();
  Result perform(const Task& task);
  void name_jobs(std::set<std::string> wanted, std::vector<JobInfo>& jobs);
  // Takes in what the worker did: job numbers, reports, looks.
  void collect();
  void take_hand_over(const Handed& h);
  void apply_look(const Looked& look);
  void update_alerts();

  FileSystem& files_;
  Clock& clock_;
  const TicketLayout& layout_;
  std::unique_ptr<PrinterOutlet> outlet_;
  PrintReport report_;
  PrintAlert alert_;
  SpoolOptions options_;

  bool open_ = false;
  PrinterSettings settings_;
  std::string made_at_;  // the stamp of the job's opening: when its ticket is made
  std::vector<std::string> lines_;

  bool started_ = false;
  std::string root_host_;
  std::vector<Ticket> tickets_;

  std::string work_;  // the piece of work under way, or empty
  unsigned long job_no_ = 0;
  bool work_ok_ = true;
  std::vector<Staged> staged_;  // the tickets of the work, not yet kept

  std::string last_stamp_;  // names never sort before an earlier one
  std::string work_floor_;  // the last work's stamp
  unsigned long sequence_ = 0;
  std::string last_ticket_;
  std::map<std::string, std::string> alerts_up_;     // the alerts raised and not yet ended, by key
  std::map<std::string, std::string> spool_failed_;  // printers (lower case) whose spool failed last

  unsigned long check_ = 0;  // counts the checks (follow-ups)
  bool look_pending_ = false;  // a look asked for and not yet taken in
  int highest_job_ = 0;        // the highest job number handed over

  // The worker's own: the outlet and what it saw last.
  unsigned long looked_check_ = ~0UL;  // the check of the last look
  bool reachable_ = false;             // and whether the spooler answered it

  // The worker's queue and what it handed over.
  std::mutex queue_mutex_;
  std::condition_variable queue_cv_;  // work for the worker, or its end
  std::condition_variable idle_cv_;   // the queue ran dry
  std::deque<Task> queue_;
  std::vector<Result> results_;
  std::set<std::string> blocked_;  // printers (lower case) that failed a ticket still queued behind
  bool busy_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace kav::platform::print
