// The reprint form over the running monitor: the checks go on while it is
// open, its list shows the recent tickets and keeps the selection on its
// ticket, and its buttons (or console mode's "t N", "c N") reprint through
// the print service's reprints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/application.h"
#include "app/session.h"
#include "printing/reprint.h"
#include "record/cp1252.h"
#include "support/fake_platform.h"
#include "support/fake_reprints.h"
#include "ui/headless/headless_runtime.h"

namespace kav::monitor {
namespace {

using platform::TicketFacts;
using printing::KeptTicket;
using printing::TicketState;

using test::kept_ticket;

struct Monitor : test::FakePlatform {
  Monitor() {
    runtime.record_everything();
    runtime.on_message_box = [this](std::string_view, std::string_view text, int style) {
      boxes.push_back(record::to_utf8(text) + (style == form::kStyleError ? " (erro)" : ""));
    };
  }
  std::vector<std::string> rows() const { return runtime.last("02-REIMPRIME")->rows("Lv_Tickets"); }

  log::Alerts board;
  log::CheckReport report;
  test::FakeReprints reprints;
  app::Application application{services, "localhost", board, report, reprints};
  app::Session session{application};
  ui::headless::VirtualPacer pacer{clock};
  ui::headless::HeadlessRuntime runtime{session.forms(), services.commands, pacer};
  std::vector<std::string> boxes;
};

TEST(ReprintFormTest, TheChecksGoOnWhileTheOperatorBrowsesTheTickets) {
  Monitor m;
  m.runtime.at(2500, [&] { EXPECT_TRUE(m.runtime.click("Bt_Reimprimir")); });
  m.runtime.at(40'000, [&] {
    EXPECT_EQ(m.runtime.open_forms().back(), "02-REIMPRIME");
    EXPECT_FALSE(m.runtime.click("Bt_Confirma8"));  // the monitor takes no click beneath it
    EXPECT_TRUE(m.runtime.click("Bt_Fechar"));
  });
  m.runtime.at(41'000, [&] { EXPECT_TRUE(m.runtime.click("Bt_Confirma8")); });
  m.runtime.run(app::kStartForm);

  std::vector<std::int64_t> checks;
  for (const auto& e : m.runtime.events("open")) {
    if (e.form == "90-COMANDAS") checks.push_back(e.ms);
  }
  // Every fifth second, the form open or not: the bar stood at 2 when it
  // opened and goes on from there (3.5, 4.5, 5.5 s), then about every 5 s.
  ASSERT_GE(checks.size(), 7U);
  EXPECT_EQ(checks[0], 5500);
  for (std::size_t i = 1; i < checks.size(); ++i) EXPECT_LE(checks[i] - checks[i - 1], 5100) << i;
  // Each check's status row reached the monitor's own list.
  EXPECT_GE(m.runtime.last("00-MENU")->rows().size(), 7U);
  // The list was looked at again every fifth second, and built once.
  EXPECT_GE(m.reprints.listings, 7);
  EXPECT_LE(m.reprints.listings, 9);
  EXPECT_EQ(m.runtime.last("02-REIMPRIME")->controls.at("Lv_Tickets").cells.size(), 4U);
}

TEST(ReprintFormTest, ReprintsTheSelectedTicketOrTheTicketsOfItsOrder) {
  Monitor m;
  // The kitchen's ticket of the customer whose bill row 3 is.
  m.reprints.tickets.insert(m.reprints.tickets.begin() + 3,
                            kept_ticket("COZINHA", "20191127-14250000-000001", "0012", TicketFacts::Kind::items));
  std::vector<std::string> console;  // what console mode prints of the list
  ui::headless::print_rows(m.runtime, [&](const std::string& line) {
    if (line.starts_with("[02-REIMPRIME]")) console.push_back(line);
  });
  m.runtime.at(1500, [&] { m.runtime.click("Bt_Reimprimir"); });
  m.runtime.at(1600, [&] {
    EXPECT_EQ(console.at(0), "[02-REIMPRIME] 1) 14:37:00 | 0012 | BAR | itens | impresso");
    EXPECT_EQ(console.at(4), "[02-REIMPRIME] 5) 14:20:00 | 0007 | BAR | cancelamento | não entregue");
    EXPECT_EQ(m.rows(), (std::vector<std::string>{"14:37:00 | 0012 | BAR | itens | impresso",
                                                  "14:37:00 | 0012 | COZINHA | itens | impresso",
                                                  "14:30:00 | 0012 | COZINHA | conta | impresso",
                                                  "14:25:00 | 0012 | COZINHA | itens | impresso",
                                                  record::cp1252("14:20:00 | 0007 | BAR | cancelamento | não entregue")}));
    using Typed = ui::headless::HeadlessRuntime::Typed;
    // A number that names no row presses nothing: console mode says so.
    EXPECT_EQ(m.runtime.type_command("c 99"), Typed::no_row);
    EXPECT_EQ(m.runtime.typed_rows(), 5);
    EXPECT_EQ(m.runtime.type_command("t 0"), Typed::no_row);
    EXPECT_EQ(m.runtime.type_command("t x"), Typed::not_a_row);
    // "t" is the ticket's; the whole order is typed as its word.
    EXPECT_NE(m.runtime.commands_help(false).find("t ou ticket = "), std::string::npos);
    EXPECT_NE(m.runtime.commands_help(false).find("p ou página = "), std::string::npos);  // UTF-8, as the console
    EXPECT_NE(m.runtime.commands_help(false).find(", toda = \"Toda a comanda (2ª via)\""), std::string::npos)
        << m.runtime.commands_help(false);
    m.runtime.type_command("t");  // nothing selected
    m.runtime.type_command("t 2");
    m.runtime.type_command("c 1");  // the order of row 1: since its last bill
    m.runtime.type_command("c 3");  // a bill's copy: the bill alone
    m.runtime.type_command("toda 3");  // the whole order of that bill
    m.runtime.type_command("t 5");  // refused by the service: said as an error
    m.runtime.type_command("f");
  });
  m.runtime.at(2500, [&] { m.runtime.click("Bt_Confirma8"); });
  m.runtime.run(app::kStartForm);
  EXPECT_EQ(m.reprints.reprinted,
            (std::vector<std::string>{"20191127-14370000-000001",  // t 2
                                      // c 1: the order's item tickets after its earlier bill, oldest first
                                      "20191127-14370000-000001", "20191127-14370000-000002",
                                      "20191127-14300000-000003",  // c 3
                                      "20191127-14250000-000001", "20191127-14300000-000003",  // toda 3
                                      "20191127-14200000-000001"}));  // t 5
  EXPECT_EQ(m.boxes, (std::vector<std::string>{"Selecione um ticket na lista.",
                                               "Comanda 0012: 2ª via enviada para a impressora",
                                               "Comanda 0012 (itens): 2 de 2 ticket(s) reimpresso(s) (2ª via)",
                                               "Comanda 0012 (conta): 1 de 1 ticket(s) reimpresso(s) (2ª via)",
                                               "Comanda 0012 (todos os tickets): 2 de 2 ticket(s) reimpresso(s) (2ª via)",
                                               "Comanda 0007: recusado (erro)"}));
}

TEST(ReprintFormTest, TheTestPageGoesToTheSelectedRowsPrinter) {
  Monitor m;
  m.runtime.at(1500, [&] { m.runtime.click("Bt_Reimprimir"); });
  m.runtime.at(1600, [&] {
    m.runtime.type_command("p");  // nothing selected
    m.runtime.type_command("p 2");
    m.runtime.type_command("f");
  });
  m.runtime.at(2500, [&] { m.runtime.click("Bt_Confirma8"); });
  m.runtime.run(app::kStartForm);
  EXPECT_EQ(m.reprints.tested, std::vector<std::string>{"COZINHA"});
  EXPECT_EQ(m.boxes.at(1), "teste COZINHA");
}

// "Enviar para…" ("e N"): for a ticket not yet printed, the printers other
// than its own; "Ticket" there sends it to the one chosen. A printed ticket
// is not sent: the box says to reprint it.
TEST(ReprintFormTest, SendToSendsATicketNotYetPrintedToThePrinterChosen) {
  Monitor m;
  m.runtime.at(1500, [&] { m.runtime.click("Bt_Reimprimir"); });
  m.runtime.at(1600, [&] {
    m.runtime.type_command("e 1");  // printed
    m.runtime.type_command("e 4");
  });
  m.runtime.at(1700, [&] {
    EXPECT_EQ(m.runtime.last("04-ENVIAR")->rows("Lv_Impressoras"), (std::vector<std::string>{"COZINHA", "CAIXA"}));
    m.runtime.type_command("t 2");
  });
  m.runtime.at(1800, [&] { m.runtime.type_command("f"); });
  m.runtime.at(2500, [&] { m.runtime.click("Bt_Confirma8"); });
  m.runtime.run(app::kStartForm);
  EXPECT_EQ(m.reprints.sent, std::vector<std::string>{"20191127-14200000-000001 CAIXA"});
  EXPECT_EQ(m.boxes, (std::vector<std::string>{
                         "Este ticket já foi entregue à impressora; use \"Ticket (2ª via)\".",
                         "Comanda 0007: enviado para CAIXA"}));
}

TEST(ReprintFormTest, TheListFollowsTheSpoolAndAStopEndsTheFormThenTheMonitor) {
  Monitor m;
  const auto selected = [&] { return m.runtime.last("02-REIMPRIME")->controls.at("Lv_Tickets").selected; };
  std::vector<std::string> console;
  ui::headless::print_rows(m.runtime, [&](const std::string& line) {
    if (line.starts_with("[02-REIMPRIME]")) console.push_back(line);
  });
  m.runtime.at(1500, [&] { m.runtime.click("Bt_Reimprimir"); });
  m.runtime.at(1600, [&] {
    m.runtime.type_command("t 2");
    EXPECT_EQ(selected(), 1);
    // A new ticket on top, and the selected one delivered meanwhile.
    m.reprints.tickets.insert(m.reprints.tickets.begin(),
                              kept_ticket("BAR", "20191127-14380000-000001", "0013", TicketFacts::Kind::items,
                                     TicketState::waiting));
  });
  m.runtime.at(7000, [&] {
    EXPECT_EQ(m.rows().size(), 5U);
    EXPECT_EQ(m.rows()[0], "14:38:00 | 0013 | BAR | itens | aguardando");
    EXPECT_EQ(selected(), 2);  // still on its ticket
    // Console mode saw the rows written over in place: none removed.
    EXPECT_EQ(console.size(), 4U + 5U);
    EXPECT_EQ(console.back(), "[02-REIMPRIME] 5) 14:20:00 | 0007 | BAR | cancelamento | não entregue");
    m.runtime.core().request_stop();  // Ctrl-C, SIGTERM, the session's end
  });
  m.runtime.run(app::kStartForm);
  EXPECT_TRUE(m.runtime.open_forms().empty());
  EXPECT_LE(m.runtime.last("00-MENU")->closed_ms, 7001);
  EXPECT_NE(m.files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt").find("Fim do monitor"),
            std::string::npos);
}

}  // namespace
}  // namespace kav::monitor
