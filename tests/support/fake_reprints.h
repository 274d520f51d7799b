// A print service's reprints for the form tests: a fixed list of recent
// tickets (newest first) and a record of what was reprinted.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "printing/reprint.h"

namespace kav::test {

inline printing::KeptTicket kept_ticket(std::string printer, std::string base, std::string order,
                                        platform::TicketFacts::Kind kind,
                                        printing::TicketState state = printing::TicketState::printed) {
  printing::KeptTicket t;
  t.folder = "C:\\OrbelaTeknovarium\\Spool\\" + printer;
  t.folder_name = printer;
  t.printer = std::move(printer);
  t.base = std::move(base);
  t.file_name = t.base + ".txt";
  t.state = state;
  t.facts.order = std::move(order);
  t.facts.kind = kind;
  return t;
}

// Four tickets of two orders: 0012 (two item tickets after its earlier
// bill) and 0007 (a cancellation not delivered).
inline std::vector<printing::KeptTicket> some_tickets() {
  using Kind = platform::TicketFacts::Kind;
  return {
      kept_ticket("BAR", "20191127-14370000-000002", "0012", Kind::items),
      kept_ticket("COZINHA", "20191127-14370000-000001", "0012", Kind::items),
      kept_ticket("COZINHA", "20191127-14300000-000003", "0012", Kind::bill),
      kept_ticket("BAR", "20191127-14200000-000001", "0007", Kind::cancellation, printing::TicketState::undelivered),
  };
}

// Reprints what is printed; refuses the rest.
class FakeReprints final : public printing::Reprints {
 public:
  std::vector<printing::KeptTicket> tickets = some_tickets();
  std::vector<std::string> reprinted;  // bases, in order
  int listings = 0;

  std::vector<printing::KeptTicket> recent(std::size_t limit) override {
    ++listings;
    return {tickets.begin(), tickets.begin() + static_cast<std::ptrdiff_t>(std::min(limit, tickets.size()))};
  }
  platform::Status reprint(const printing::KeptTicket& t) override {
    reprinted.push_back(t.base);
    if (t.state != printing::TicketState::printed) return {platform::Status::kRefused, "Comanda " + t.facts.order + ": recusado"};
    return {platform::Status::kOk, "Comanda " + t.facts.order + ": 2\xAA via enviada para a impressora"};
  }
  std::vector<std::string> printer_names = {"BAR", "COZINHA", "CAIXA"};
  std::vector<std::string> sent;  // "base printer", in order
  std::vector<std::string> printers() override { return printer_names; }
  platform::Status send_to(const printing::KeptTicket& t, std::string_view printer) override {
    sent.push_back(t.base + " " + std::string(printer));
    return {platform::Status::kOk, "Comanda " + t.facts.order + ": enviado para " + std::string(printer)};
  }
  std::vector<std::string> tested;  // printers whose test page was asked for
  platform::Status test_page(std::string_view printer) override {
    tested.emplace_back(printer);
    return {platform::Status::kOk, "teste " + std::string(printer)};
  }
};

}  // namespace kav::test
