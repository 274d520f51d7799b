// The hand-over to the spooler: the only user of the printer outlet. It takes
// two kinds of task, in one queue and in order:
//   - a hand-over: one ticket to its printer (its job noted beside it);
//   - a look: the state of the printers and of the jobs asked for.
// and gives back, in the same order, what came of each. It runs them on a
// worker thread of its own, or, for tests, at once in the caller's thread.
//
// A printer that failed a ticket is not asked again for the tickets queued
// behind it (they come back "not attempted") until the caller lets it go:
// hand_over() with `nothing_on_its_way`, or keep_blocked_only() without it.
//
// What to hand over, when, and what to tell anyone about it is decided by the
// caller; nothing here speaks to the operator.
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
#include <utility>
#include <vector>

#include "platform/print/outlet.h"
#include "platform/print/spool_store.h"

namespace kav::platform::print {

// Where tickets are handed to the spooler.
enum class HandOver {
  in_caller,  // in the thread that queues the task (tests)
  on_worker,  // on the worker thread
};

// One ticket for its printer.
struct HandOverJob {
  std::string folder, base;  // the ticket in the spool
  TicketJob job;             // printer, job title and page
  std::string text;
  bool redelivery = false;
  bool kept = true;  // false: the spool could not keep it (no job note then)
  unsigned long check = 0;  // the check it was queued in: one look at the printers per check
  bool raw = false;         // `text` holds the printer's own bytes (submit_raw)
};

// What came of a hand-over.
struct Handed {
  std::string folder, base;
  Delivery delivery;
  bool redelivery = false;
  bool attempted = false;  // false: not tried, behind an earlier ticket its printer did not take
};

// A look at the spooler.
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
  JobState state = JobState::unknown;
};

// What a look saw.
struct Looked {
  bool reachable = false;  // the spooler answered; when not, only `printers` is filled
  std::set<std::string> unlisted;  // printers (by printer_key()) whose jobs could not be listed
  std::map<std::string, PrinterState> printers;  // by printer_key()
  std::vector<JobInfo> jobs;
  std::vector<AskedJob> asked;
  std::vector<std::string> known;  // every printer the spooler knows, by name
};

// What came of one task.
struct HandOverResult {
  bool look = false;
  Handed handed;  // a hand-over's
  Looked looked;  // a look's
};

// Where hand-overs and looks are queued. The ledger above knows only this.
class HandOverQueue {
 public:
  virtual ~HandOverQueue() = default;
  // `nothing_on_its_way`: no earlier ticket of the printer is queued or being
  // handed over, so a failure of the printer no longer holds this one back.
  virtual void hand_over(HandOverJob job, bool nothing_on_its_way) = 0;
  virtual void look(LookRequest request) = 0;
  // True while a failure of the printer (by printer_key()) holds back the
  // tickets queued behind it.
  virtual bool held_back(const std::string& key) = 0;
  // Lets go of every printer held back but those in `keys`.
  virtual void keep_held_back_only(const std::set<std::string>& keys) = 0;
};

class HandOverWorker final : public HandOverQueue {
 public:
  HandOverWorker(SpoolStore& store, std::unique_ptr<PrinterOutlet> outlet, HandOver mode);
  // Hands over what is queued, then ends the worker.
  ~HandOverWorker() override;

  void hand_over(HandOverJob job, bool nothing_on_its_way) override;
  void look(LookRequest request) override;
  bool held_back(const std::string& key) override;
  void keep_held_back_only(const std::set<std::string>& keys) override;

  // What was done since the last call, in order.
  std::vector<HandOverResult> take_results();
  // Waits until nothing is queued or under way.
  void wait_until_idle();
  // The same, for at most `limit`: false when the worker is still busy then.
  bool wait_until_idle_for(std::chrono::milliseconds limit);
  // Takes the looks still queued off the queue (hand-overs stay).
  void drop_queued_looks();
  // True when nothing is queued or under way and every result has been taken.
  bool drained();
  // Hands over what is queued and ends the worker (at most once).
  void stop();

 private:
  struct Task {
    bool look = false;
    HandOverJob job;
    LookRequest request;
  };

  void queue(Task task);
  void worker_loop();
  HandOverResult perform(const Task& task);
  void name_jobs(std::set<std::string> wanted, std::vector<JobInfo>& jobs);

  SpoolStore& store_;
  std::unique_ptr<PrinterOutlet> outlet_;
  HandOver mode_;

  // The worker's own: what it saw last.
  unsigned long looked_check_ = ~0UL;  // the check of the last look
  bool reachable_ = false;             // and whether the spooler answered it

  std::mutex mutex_;
  std::condition_variable queue_cv_;  // work for the worker, or its end
  std::condition_variable idle_cv_;   // the queue ran dry
  std::deque<Task> queue_;
  std::vector<HandOverResult> results_;
  std::set<std::string> held_back_;  // printers that failed a ticket still queued behind
  bool busy_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace kav::platform::print
