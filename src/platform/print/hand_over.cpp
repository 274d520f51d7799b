#include "platform/print/hand_over.h"

#include <algorithm>
#include <iterator>

namespace kav::platform::print {

HandOverWorker::HandOverWorker(SpoolStore& store, std::unique_ptr<PrinterOutlet> outlet, HandOver mode)
    : store_(store), outlet_(std::move(outlet)), mode_(mode) {
  if (mode_ == HandOver::on_worker) worker_ = std::thread([this] { worker_loop(); });
}

HandOverWorker::~HandOverWorker() { stop(); }

void HandOverWorker::stop() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queue_cv_.notify_all();
  worker_.join();  // what is queued is handed over first
}

void HandOverWorker::hand_over(HandOverJob job, bool nothing_on_its_way) {
  if (nothing_on_its_way) {
    // A failure of this printer no longer holds back what follows once
    // nothing of it is on its way.
    const std::lock_guard lock(mutex_);
    held_back_.erase(printer_key(job.job.printer));
  }
  Task task;
  task.job = std::move(job);
  queue(std::move(task));
}

void HandOverWorker::look(LookRequest request) {
  Task task;
  task.look = true;
  task.request = std::move(request);
  queue(std::move(task));
}

bool HandOverWorker::held_back(const std::string& key) {
  const std::lock_guard lock(mutex_);
  return held_back_.contains(key);
}

void HandOverWorker::keep_held_back_only(const std::set<std::string>& keys) {
  const std::lock_guard lock(mutex_);
  for (auto it = held_back_.begin(); it != held_back_.end();) {
    it = keys.contains(*it) ? std::next(it) : held_back_.erase(it);
  }
}

std::vector<HandOverResult> HandOverWorker::take_results() {
  std::vector<HandOverResult> done;
  const std::lock_guard lock(mutex_);
  done.swap(results_);
  return done;
}

bool HandOverWorker::drained() {
  const std::lock_guard lock(mutex_);
  // A task the worker has taken off the queue is under way until its result
  // is in: busy counts, or a hand-over queued by the last collect() and
  // taken at once would pass for done.
  return queue_.empty() && !busy_ && results_.empty();
}

void HandOverWorker::queue(Task task) {
  if (mode_ == HandOver::in_caller) {
    HandOverResult r = perform(task);
    const std::lock_guard lock(mutex_);
    results_.push_back(std::move(r));
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  queue_cv_.notify_one();
}

void HandOverWorker::worker_loop() {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      queue_cv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and everything queued was done
      task = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    HandOverResult r = perform(task);
    {
      const std::lock_guard lock(mutex_);
      results_.push_back(std::move(r));
      busy_ = false;
      if (queue_.empty()) idle_cv_.notify_all();
    }
  }
}

void HandOverWorker::wait_until_idle() {
  if (!worker_.joinable()) return;
  std::unique_lock lock(mutex_);
  idle_cv_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

bool HandOverWorker::wait_until_idle_for(std::chrono::milliseconds limit) {
  if (!worker_.joinable()) return true;
  std::unique_lock lock(mutex_);
  return idle_cv_.wait_for(lock, limit, [&] { return queue_.empty() && !busy_; });
}

void HandOverWorker::drop_queued_looks() {
  const std::lock_guard lock(mutex_);
  std::erase_if(queue_, [](const Task& t) { return t.look; });
}

// On the worker (or in the caller): the spooler's side of a task. Only here
// is the outlet used.
HandOverResult HandOverWorker::perform(const Task& task) {
  HandOverResult r;
  if (task.look) {
    const LookRequest& q = task.request;
    r.look = true;
    r.looked.reachable = outlet_->refresh(q.job_printers, q.first_job);
    looked_check_ = q.check;
    reachable_ = r.looked.reachable;
    // Asked for even when the spooler did not answer: a printer the outlet
    // reaches by itself answers all the same.
    for (const auto& p : q.printers) r.looked.printers[printer_key(p)] = outlet_->printer(p);
    if (!r.looked.reachable) return r;
    r.looked.jobs = outlet_->jobs();
    r.looked.known = outlet_->printer_names();
    for (const auto& p : outlet_->unlisted()) r.looked.unlisted.insert(printer_key(p));
    for (const auto& asked : q.ask) {
      const std::string& printer = asked.first;
      const int id = asked.second;
      const bool listed = std::any_of(r.looked.jobs.begin(), r.looked.jobs.end(), [&](const JobInfo& j) {
        return j.id == id && same_printer(j.printer, printer);
      });
      if (!listed) r.looked.asked.push_back({printer, id, outlet_->job(printer, id)});
    }
    name_jobs(q.titles, r.looked.jobs);
    return r;
  }

  const HandOverJob& job = task.job;
  Handed& h = r.handed;
  h = Handed{job.folder, job.base, Delivery{Outcome::waiting, 0, "waiting behind an earlier ticket"},
             job.redelivery, false};
  const std::string key = printer_key(job.job.printer);
  {
    const std::lock_guard lock(mutex_);
    if (held_back_.contains(key)) return r;
  }
  h.attempted = true;
  if (looked_check_ != job.check) {  // one look at the printers per check
    reachable_ = outlet_->refresh({}, 0);
    looked_check_ = job.check;
  }
  switch (outlet_->printer(job.job.printer)) {
    case PrinterState::unknown:
      h.delivery = Delivery{reachable_ ? Outcome::unknown_printer : Outcome::failed, 0, {}};
      break;
    case PrinterState::stopped: h.delivery = Delivery{Outcome::stopped, 0, {}}; break;
    case PrinterState::ready:
      h.delivery = job.raw ? outlet_->submit_raw(job.job, job.text) : outlet_->submit(job.job, job.text);
      break;
  }
  if (!h.delivery.delivered()) {
    const std::lock_guard lock(mutex_);
    held_back_.insert(key);  // what is queued behind it for this printer waits
  } else if (job.kept) {
    // The job's number beside the ticket, for a spooler that forgets
    // finished jobs (Windows): after a crash a ticket with a job note whose
    // job has left the queue was printed.
    store_.write_note(job.folder, job.base, h.delivery.job_id);
  }
  return r;
}

// Asks for the names of jobs listed without one, newest first, until every
// name in `wanted` has been found or no such job is left.
void HandOverWorker::name_jobs(std::set<std::string> wanted, std::vector<JobInfo>& jobs) {
  for (const auto& j : jobs) wanted.erase(j.title);
  if (wanted.empty()) return;
  std::vector<JobInfo*> unnamed;
  for (auto& j : jobs) {
    if (j.title.empty()) unnamed.push_back(&j);
  }
  std::sort(unnamed.begin(), unnamed.end(), [](const JobInfo* a, const JobInfo* b) { return a->id > b->id; });
  for (JobInfo* j : unnamed) {
    if (wanted.empty()) return;
    j->title = outlet_->job_name(j->id);
    wanted.erase(j->title);
  }
}

}  // namespace kav::platform::print
