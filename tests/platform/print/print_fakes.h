// A printer outlet that records what it was handed and answers as told, and
// a ticket layout that stands in for the application's.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/print/outlet.h"
#include "platform/print_service.h"
#include "record/area.h"

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

// Lays out the print form FCOMANDA with the groups CABEC, ITECMD, TRACO and
// ORBELA; each prints one line, the record's text without the blanks around
// it.
class FakeLayout final : public platform::TicketLayout {
 public:
  bool is_form(std::string_view print_form) const override { return record::trim_right(print_form) == "FCOMANDA"; }
  std::optional<std::vector<std::string>> lines(std::string_view group,
                                                std::string_view print_record) const override {
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
