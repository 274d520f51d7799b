// A printer outlet that records what it was handed and answers as told.
#pragma once

#include <string>
#include <vector>

#include "platform/print/outlet.h"

namespace kav::test {

class FakeOutlet final : public platform::print::PrinterOutlet {
 public:
  struct Handed {
    platform::print::TicketJob job;
    std::string ticket;
  };
  platform::print::Delivery deliver(const platform::print::TicketJob& job, std::string_view ticket) override {
    handed.push_back({job, std::string(ticket)});
    return {outcome, static_cast<int>(handed.size()), "detail"};
  }
  platform::print::Outcome outcome = platform::print::Outcome::printed;
  std::vector<Handed> handed;
};

}  // namespace kav::test
