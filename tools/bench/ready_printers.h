// Printers that take every job and finish it at once: what the benchmarks of
// printing use where a spooler's own time is not what is measured.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/print/outlet.h"

namespace kav::bench {

class ReadyPrinters final : public platform::print::PrinterOutlet {
 public:
  bool refresh(const std::set<std::string>&, int) override {
    seen_ = std::move(submitted_);
    submitted_.clear();
    return true;
  }
  platform::print::PrinterState printer(std::string_view) const override {
    return platform::print::PrinterState::ready;
  }
  const std::vector<platform::print::JobInfo>& jobs() const override { return seen_; }
  platform::print::JobState job(std::string_view, int) override { return platform::print::JobState::completed; }
  platform::print::Delivery submit(const platform::print::TicketJob& job, std::string_view) override {
    submitted_.push_back(platform::print::JobInfo{++last_, job.printer, job.title, platform::print::JobState::completed});
    return platform::print::Delivery{platform::print::Outcome::accepted, last_, {}};
  }

 private:
  std::vector<platform::print::JobInfo> submitted_, seen_;
  int last_ = 0;
};

}  // namespace kav::bench
