// Reprints: how a kept ticket reads back (order, kind, the second copy's
// mark), which tickets make up an order, and the print service's rules for
// a reprint inside the running monitor, with the hand-over in the caller's
// thread.
#include <gtest/gtest.h>

#include <algorithm>

#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/line_end.h"
#include "platform/print/print_fakes.h"
#include "platform/print/spool_store.h"
#include "printing/reprint.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"

namespace kav::printing {
namespace {

using namespace platform;
using namespace platform::print;
using Kind = TicketFacts::Kind;
using test::FakeOutlet;

const std::string kRule(48, '=');

std::string ticket_text(std::string_view order, std::initializer_list<std::string_view> body) {
  std::string t = kRule + "\n              *** COMANDA " + std::string(order) + " ***\n" + kRule + "\n";
  for (auto line : body) t += std::string(line) + "\n";
  return t + "      KavComanda - Orbela Teknovarium Ltda\n";
}

TEST(TicketFacts, TheLayoutReadsOrderAndKindBackAndMarksASecondCopyOnce) {
  const std::string items = ticket_text("0012", {"3 x Caipirinha"});
  const std::string cancel = ticket_text("0012", {"***      I T E M   C A N C E L A D O      ***"});
  const std::string bill = ticket_text("0040", {"  Total de Produtos            52,00"});
  EXPECT_EQ(orders::fcomanda_facts(items).order, "0012");
  EXPECT_EQ(orders::fcomanda_facts(items).kind, Kind::items);
  EXPECT_EQ(orders::fcomanda_facts(cancel).kind, Kind::cancellation);
  EXPECT_EQ(orders::fcomanda_facts(bill).kind, Kind::bill);
  EXPECT_EQ(orders::fcomanda_facts(bill).order, "0040");
  EXPECT_EQ(orders::fcomanda_facts("no head\n").kind, Kind::unknown);

  // The mark: its own centred line under the order's number, once.
  const std::string copy = orders::fcomanda_second_copy(items, "\n");
  EXPECT_EQ(copy, kRule + "\n              *** COMANDA 0012 ***\n                     2\xAA via\n" + kRule +
                      "\n3 x Caipirinha\n      KavComanda - Orbela Teknovarium Ltda\n");
  EXPECT_TRUE(orders::fcomanda_facts(copy).second_copy);
  EXPECT_FALSE(orders::fcomanda_facts(items).second_copy);
  EXPECT_EQ(orders::fcomanda_second_copy(copy, "\n"), copy);
  // Windows line ends stay whole; a ticket without the head gets it on top.
  const std::string crlf = orders::fcomanda_second_copy("*** COMANDA 7 ***\r\nx\r\n", "\r\n");
  EXPECT_EQ(crlf, "*** COMANDA 7 ***\r\n                     2\xAA via\r\nx\r\n");
  EXPECT_EQ(orders::fcomanda_second_copy("x\n", "\n").find("2\xAA via"), 21U);
}

// The possible copy and the late lines go under the head as the copy's mark
// does, each once, and are read back; a late ticket reprinted keeps both.
TEST(TicketFacts, ThePossibleCopyAndTheLateLinesAreMarksOfTheirOwn) {
  const std::string items = ticket_text("0302", {"3 x Caipirinha"});
  const std::string late = orders::fcomanda_with_mark(items, record::cp1252("ATRASADO - pedido às 14:05"), "\n");
  const std::string both = orders::fcomanda_with_mark(late, platform::kPossibleCopyMark, "\n");
  EXPECT_NE(both.find(record::cp1252("*** COMANDA 0302 ***\n") + std::string(11, ' ') +
                      record::cp1252("POSSÍVEL 2ª VIA - conferir\n") + std::string(11, ' ') +
                      record::cp1252("ATRASADO - pedido às 14:05\n")),
            std::string::npos)
      << both;
  EXPECT_EQ(orders::fcomanda_with_mark(both, platform::kPossibleCopyMark, "\n"), both);
  const platform::TicketFacts facts = orders::fcomanda_facts(both);
  EXPECT_TRUE(facts.possible_copy);
  EXPECT_TRUE(facts.late);
  EXPECT_FALSE(facts.second_copy);
  EXPECT_EQ(facts.order, "0302");
  EXPECT_FALSE(orders::fcomanda_facts(items).late);
}

KeptTicket kept(std::string base, std::string order, Kind kind, bool copy = false) {
  KeptTicket t;
  t.folder = "C:\\OrbelaTeknovarium\\Spool\\BAR";
  t.printer = "BAR";
  t.base = std::move(base);
  t.facts = {std::move(order), kind, copy};
  return t;
}

TEST(TicketsOfOrder, AnOrderRunsFromAfterItsEarlierBillToItsOwnOnTheSameDay) {
  const std::vector<KeptTicket> recent = {
      kept("20191128-09000000-000001", "0012", Kind::items),         // next day
      kept("20191127-23000000-000001", "0012", Kind::items),         // reused after the bill
      kept("20191127-22000000-000001", "0012", Kind::bill),          // its bill
      kept("20191127-21300000-000001", "0012", Kind::items, true),   // a second copy
      kept("20191127-21000000-000002", "0013", Kind::items),         // another order
      kept("20191127-21000000-000001", "0012", Kind::cancellation),  //
      kept("20191127-20000000-000001", "0012", Kind::items),         // chosen
      kept("20191127-12000000-000001", "0012", Kind::bill),          // an earlier customer's bill
      kept("20191127-11000000-000001", "0012", Kind::items),
  };
  std::vector<std::string> bases;
  for (const auto& t : tickets_of_order(recent, recent[6])) bases.push_back(t.base);
  EXPECT_EQ(bases, (std::vector<std::string>{"20191127-20000000-000001", "20191127-21000000-000001",
                                             "20191127-22000000-000001"}));
  bases.clear();
  for (const auto& t : tickets_of_order(recent, recent[1])) bases.push_back(t.base);
  EXPECT_EQ(bases, (std::vector<std::string>{"20191127-23000000-000001"}));
  EXPECT_TRUE(tickets_of_order(recent, kept("20191127-20000000-000009", "", Kind::unknown)).empty());

  // Of the chosen ticket's kind: a bill's copy is the bill, an item
  // ticket's the item tickets, a cancellation's the cancellation.
  const auto like = [&](const KeptTicket& chosen) {
    std::vector<std::string> out;
    for (const auto& t : tickets_of_order_like(recent, chosen)) out.push_back(t.base);
    return out;
  };
  EXPECT_EQ(like(recent[2]), std::vector<std::string>{"20191127-22000000-000001"});
  EXPECT_EQ(like(recent[6]), std::vector<std::string>{"20191127-20000000-000001"});
  EXPECT_EQ(like(recent[5]), std::vector<std::string>{"20191127-21000000-000001"});
}

// The print service with a layout that reads tickets back as FCOMANDA does.
class Layout final : public TicketLayout {
 public:
  bool is_form(std::string_view form) const override { return fake_.is_form(form); }
  std::optional<std::vector<std::string>> lines(std::string_view group, std::string_view record,
                                                std::string_view made_at) const override {
    return fake_.lines(group, record, made_at);
  }
  TicketFacts facts(std::string_view ticket) const override { return orders::fcomanda_facts(ticket); }
  std::string second_copy(std::string_view ticket, std::string_view line_end) const override {
    return orders::fcomanda_second_copy(ticket, line_end);
  }
  std::string with_mark(std::string_view ticket, std::string_view mark, std::string_view line_end) const override {
    return orders::fcomanda_with_mark(ticket, mark, line_end);
  }

 private:
  test::FakeLayout fake_;
};

constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";
const std::string kBar = "C:\\OrbelaTeknovarium\\Spool\\BAR\\";

struct Service {
  MemoryFileSystem files;
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  FakeOutlet* outlet = new FakeOutlet;
  std::vector<std::string> reports;
  Layout layout;
  SpoolingPrintService service{files, clock, layout, std::unique_ptr<PrinterOutlet>(outlet),
                               [this](std::string_view t) { reports.emplace_back(t); }};

  void print(std::string_view order) {
    files.put(kInfo, "PRTDRV       \"BAR\"\n");
    service.open("FCOMANDA", kInfo).ignore();
    service.write("CABEC", "*** COMANDA " + std::string(order) + " ***").ignore();
    service.write("ITECMD", "3 x Caipirinha").ignore();
    service.close().ignore();
  }
  KeptTicket newest() { return service.recent(1).at(0); }
};

TEST(MonitorReprint, APrintedTicketComesBackAsAMarkedTicketOfItsOwnFollowedLikeAnyOther) {
  Service s;
  s.print("0012");
  s.outlet->finish_all();
  s.service.follow_up();
  s.service.follow_up();
  const KeptTicket original = s.newest();
  EXPECT_EQ(original.time(), "14:38:05");
  EXPECT_EQ(original.facts.order, "0012");
  EXPECT_EQ(original.facts.kind, Kind::items);
  EXPECT_EQ(original.state, TicketState::printed);

  s.clock.advance_ms(60'000);
  const platform::Status outcome = s.service.reprint(original);
  EXPECT_TRUE(outcome.ok()) << outcome.message();
  EXPECT_EQ(outcome.message(), record::cp1252("Comanda 0012 (BAR): 2ª via enviada para a impressora"));
  ASSERT_EQ(s.outlet->handed.size(), 2U);
  EXPECT_EQ(s.outlet->handed[1].ticket, std::string("*** COMANDA 0012 ***") + std::string(kLineEnd) +
                                            "                     2\xAA via" + std::string(kLineEnd) +
                                            "3 x Caipirinha" + std::string(kLineEnd));
  // Kept under a name of its own, marked until its printer has finished it,
  // the original left as it was; the log names both.
  const KeptTicket copy = s.newest();
  EXPECT_EQ(copy.base, "20191127-14390500-000002");
  EXPECT_TRUE(copy.facts.second_copy);
  EXPECT_EQ(copy.state, TicketState::waiting);
  EXPECT_TRUE(s.files.exists(kBar + "20191127-14380500-000001.txt"));
  EXPECT_EQ(s.reports.back(), "2\xAA via de 20191127-14380500-000001 em BAR: 20191127-14390500-000002");
  s.outlet->finish_all();
  s.service.follow_up();
  s.service.follow_up();
  EXPECT_TRUE(s.files.exists(kBar + "20191127-14390500-000002.txt"));
  EXPECT_EQ(s.outlet->submits, 2);
}

// Past midnight yesterday's printed tickets are filed in their day's folder
// while the list may stand open: a row listed before is printed all the
// same, and the order's other tickets are found there.
TEST(MonitorReprint, ATicketFiledAfterItWasListedIsStillReprintedWithItsOrder) {
  Service s;
  s.print("0012");
  s.print("0012");
  s.outlet->finish_all();
  s.service.follow_up();
  s.service.follow_up();
  const KeptTicket listed = s.newest();
  ASSERT_FALSE(listed.filed);
  SpoolStore store(s.files);
  for (const auto& t : s.service.recent(2)) ASSERT_TRUE(store.file_by_day(t.folder, t.base));

  const platform::Status outcome = s.service.reprint(listed);
  EXPECT_TRUE(outcome.ok()) << outcome.message();
  ASSERT_EQ(s.outlet->handed.size(), 3U);
  EXPECT_NE(s.outlet->handed[2].ticket.find("3 x Caipirinha"), std::string::npos);

  SpoolView view(s.files, s.layout);
  KeptTicket chosen = *view.find("BAR", listed.base);
  EXPECT_TRUE(chosen.filed);
  EXPECT_EQ(tickets_of_order(view.day_of(chosen), chosen).size(), 2U);
}

TEST(MonitorReprint, ATicketTheMonitorWillStillDeliverIsNotCopied) {
  Service s;
  s.print("0012");  // handed over, not finished: in the queue
  EXPECT_EQ(s.newest().state, TicketState::waiting);
  platform::Status outcome = s.service.reprint(s.newest());
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.message().find("ainda na fila da impressora"), std::string::npos) << outcome.message();

  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
  s.print("0013");  // not delivered: sent again by itself when the printer is back
  s.service.follow_up();
  EXPECT_EQ(s.newest().state, TicketState::undelivered);
  outcome = s.service.reprint(s.newest());
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.message().find(record::cp1252("reenvia sozinho")), std::string::npos) << outcome.message();
  EXPECT_EQ(s.service.recent(10).size(), 2U);  // no copy made
  EXPECT_EQ(s.outlet->submits, 1);
}

// An outage longer than the redelivery limit is settled from the window: the
// ticket itself goes, marked late with its order's hour, never as a "2ª via".
TEST(MonitorReprint, ATicketTooOldToBeSentAgainIsPrintedFromTheWindowMarkedLateNotAsACopy) {
  Service s;
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
  s.print("0012");
  s.clock.advance_ms(31 * 60'000);
  s.outlet->printers.erase("BAR");
  s.service.follow_up();
  s.service.follow_up();  // too old: reported, not sent
  EXPECT_EQ(s.outlet->submits, 0);
  ASSERT_EQ(s.newest().state, TicketState::late);
  EXPECT_EQ(state_text(s.newest().state), record::cp1252("não entregue (atrasado)"));
  const platform::Status outcome = s.service.reprint(s.newest());
  EXPECT_TRUE(outcome.ok()) << outcome.message();
  ASSERT_EQ(s.outlet->submits, 1);
  EXPECT_EQ(s.outlet->handed[0].ticket.find("2\xAA via"), std::string::npos);
  ASSERT_NE(s.outlet->handed[0].ticket.find(record::cp1252("ATRASADO - pedido às 14:38")), std::string::npos);
  EXPECT_GT(s.outlet->handed[0].ticket.find(record::cp1252("ATRASADO - pedido às 14:38")),
            s.outlet->handed[0].ticket.find("*** COMANDA 0012 ***"))
      << s.outlet->handed[0].ticket;
  EXPECT_EQ(s.outlet->handed[0].job.title.substr(0, 24), "20191127-14380500-000001") << "the ticket itself";
  // Followed as any other: settled when printed, not sent again.
  s.outlet->finish_all();
  s.service.follow_up();
  s.service.follow_up();
  EXPECT_TRUE(s.files.exists(kBar + "20191127-14380500-000001.txt"));
  EXPECT_EQ(s.outlet->submits, 1);
}

TEST(MonitorReprint, WhatCannotBeReprintedIsSaid) {
  Service s;
  s.print("0012");
  s.outlet->finish_all();
  s.service.follow_up();
  s.service.follow_up();
  KeptTicket gone = s.newest();
  EXPECT_EQ(s.files.remove(gone.path()), platform::Status::kOk);
  EXPECT_NE(s.service.reprint(gone).message().find(record::cp1252("não encontrado")), std::string::npos);
  KeptTicket no_printer = gone;
  no_printer.printer.clear();
  EXPECT_NE(s.service.reprint(no_printer).message().find("sem impressora"), std::string::npos);
  EXPECT_EQ(s.outlet->submits, 1);
}

// "Enviar para…": a ticket its printer did not take goes to another printer
// under a first line naming both; the original is settled and never sent
// again; a ticket already printed is not sent.
TEST(MonitorReprint, ATicketNotYetPrintedIsSentElsewhereOnceUnderItsBanner) {
  Service s;
  s.outlet->names = {"BAR", "CAIXA"};
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
  s.print("0012");
  s.service.follow_up();
  s.service.follow_up();
  EXPECT_EQ(s.service.printers(), (std::vector<std::string>{"BAR", "CAIXA"}));
  const KeptTicket original = s.newest();
  EXPECT_FALSE(s.service.send_to(original, "bar").ok()) << "its own printer";
  const platform::Status outcome = s.service.send_to(original, "CAIXA");
  ASSERT_TRUE(outcome.ok()) << outcome.message();
  ASSERT_EQ(s.outlet->handed.size(), 1U);
  EXPECT_EQ(s.outlet->handed[0].job.printer, "CAIXA");
  EXPECT_EQ(s.outlet->handed[0].ticket.rfind(record::cp1252("*** PARA BAR - ENVIADO À CAIXA ***") +
                                                 std::string(platform::kLineEnd),
                                             0),
            0U);
  EXPECT_TRUE(s.files.exists(kBar + "20191127-14380500-000001.txt")) << "the original settled";
  EXPECT_NE(std::find_if(s.reports.begin(), s.reports.end(),
                         [](const std::string& r) { return r.starts_with("Enviado para CAIXA (Reimprimir): BAR\\"); }),
            s.reports.end());

  s.outlet->printers.erase("BAR");
  s.service.follow_up();
  s.service.follow_up();
  EXPECT_EQ(s.outlet->handed.size(), 1U) << "never printed on BAR as well";
  const platform::Status again = s.service.send_to(original, "CAIXA");
  EXPECT_FALSE(again.ok());
  EXPECT_NE(again.message().find(record::cp1252("já impresso")), std::string::npos) << again.message();
}

}  // namespace
}  // namespace kav::printing

namespace kav::printing {
namespace {

// The list comes from what the store knows of its newest tickets (the
// listing at start and every ticket kept since), merged over the printers,
// newest first; a ticket removed by hand is left out; one of another day
// shows its date.
TEST(MonitorReprint, TheListIsTheNewestOverThePrintersWithTheDateOfAnotherDay) {
  Service s;
  const std::string kitchen = "C:\\OrbelaTeknovarium\\Spool\\COZINHA\\";
  for (const char* folder : {"C:\\OrbelaTeknovarium", "C:\\OrbelaTeknovarium\\Spool",
                             "C:\\OrbelaTeknovarium\\Spool\\COZINHA", "C:\\OrbelaTeknovarium\\Spool\\BAR"}) {
    EXPECT_TRUE(s.files.create_directory(folder).ok());
  }
  s.files.put(kitchen + "20191126-20000000-000001.txt", ticket_text("0007", {}));
  s.files.put(kitchen + "20191127-09000000-000001.txt", ticket_text("0008", {}));
  s.files.put(kBar + "20191125-10000000-000001.txt", ticket_text("0005", {}));
  s.files.put(kBar + "20191127-08000000-000001.txt", ticket_text("0006", {}));
  s.service.follow_up();  // started: the spool listed once
  s.print("0012");
  EXPECT_TRUE(s.files.remove(kitchen + "20191127-09000000-000001.txt").ok());

  std::vector<std::string> shown;
  for (const auto& t : s.service.recent(4)) shown.push_back(t.moment("20191127") + " " + t.facts.order);
  EXPECT_EQ(shown, (std::vector<std::string>{"14:38:05 0012", "08:00:00 0006", "26/11 20:00:00 0007",
                                             "25/11 10:00:00 0005"}));
}

}  // namespace
}  // namespace kav::printing
