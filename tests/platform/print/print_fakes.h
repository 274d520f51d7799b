// A printer outlet that records what it was handed and answers as told, and
// a ticket layout that stands in for the application's.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/print/outlet.h"
#include "printing/print_service.h"
#include "record/area.h"

namespace kav::test {

class FakeOutlet final : public platform::print::PrinterOutlet {
 public:
  using JobState = platform::print::JobState;
  using PrinterState = platform::print::PrinterState;
  struct Handed {
    platform::print::TicketJob job;
    std::string ticket;
    int id = 0;
  };

  bool refresh(const std::set<std::string>& job_printers, int first_job) override {
    last_first_job = first_job;
    ++refreshes;
    listed_.clear();
    unlisted_.clear();
    if (listing_fails) {  // the printers are seen, their jobs are not
      unlisted_ = job_printers;
      return reachable;
    }
    for (const auto& h : handed) {
      const auto it = states.find(h.id);  // a job the spooler forgot is not listed
      if (job_printers.contains(h.job.printer) && it != states.end()) {
        listed_.push_back({h.id, h.job.printer, names_listed ? h.job.title : std::string(), it->second});
      }
    }
    return reachable;
  }
  PrinterState printer(std::string_view name) const override {
    const auto it = printers.find(std::string(name));
    return it == printers.end() ? default_state : it->second;
  }
  const std::vector<platform::print::JobInfo>& jobs() const override { return listed_; }
  JobState job(std::string_view, int id) override {
    const auto it = states.find(id);
    return it == states.end() ? JobState::gone : it->second;
  }
  std::string job_name(int id) override {
    ++names_asked;
    for (const auto& h : handed) {
      if (h.id == id) return h.job.title;
    }
    return {};
  }
  platform::print::Delivery submit(const platform::print::TicketJob& job, std::string_view ticket) override {
    if (before_submit) before_submit(job);
    ++submits;
    if (outcome != platform::print::Outcome::accepted) return {outcome, 0, "detail"};
    const int id = next_id++;
    handed.push_back({job, std::string(ticket), id});
    states[id] = JobState::pending;
    return {outcome, id, {}};
  }

  // A raw job is recorded as any other, its bytes as the ticket.
  platform::print::Delivery submit_raw(const platform::print::TicketJob& job, std::string_view bytes) override {
    ++raw_submits;
    return submit(job, bytes);
  }

  // The default paper of `papers`, by printer name.
  std::optional<platform::print::Paper> default_paper(std::string_view printer) override {
    ++papers_asked;
    const auto it = papers.find(std::string(printer));
    if (it == papers.end()) return std::nullopt;
    return it->second;
  }

  // The printer finishes every job it holds.
  void finish_all() {
    for (auto& [id, state] : states) {
      if (state == JobState::pending) state = JobState::completed;
    }
  }

  platform::print::Outcome outcome = platform::print::Outcome::accepted;
  // Called first in every hand-over (on the service's worker, when it has one).
  std::function<void(const platform::print::TicketJob&)> before_submit;
  PrinterState default_state = PrinterState::ready;
  std::map<std::string, PrinterState> printers;
  std::map<int, JobState> states;
  std::vector<Handed> handed;
  bool reachable = true;
  bool listing_fails = false;
  bool names_listed = true;  // false: jobs are listed without their names, as CUPS lists some
  int names_asked = 0;
  int refreshes = 0;
  int last_first_job = -1;
  int submits = 0;
  int raw_submits = 0;
  int next_id = 1;
  std::map<std::string, platform::print::Paper> papers;
  int papers_asked = 0;

 private:
  std::vector<platform::print::JobInfo> listed_;
};

// Lays out the print form FCOMANDA with the groups CABEC, ITECMD, TRACO and
// ORBELA; each prints one line, the record's text without the blanks around
// it.
class FakeLayout final : public platform::TicketLayout {
 public:
  bool is_form(std::string_view print_form) const override { return record::trim_right(print_form) == "FCOMANDA"; }
  std::optional<std::vector<std::string>> lines(std::string_view group, std::string_view print_record,
                                                std::string_view /*made_at*/) const override {
    constexpr std::string_view kGroups[] = {"CABEC", "ITECMD", "TRACO", "ORBELA"};
    if (std::find(std::begin(kGroups), std::end(kGroups), record::trim_right(group)) == std::end(kGroups)) {
      return std::nullopt;
    }
    std::string_view text = record::trim_right(print_record);
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    return std::vector<std::string>{std::string(text)};
  }
};

}  // namespace kav::test
