// What each check did, below its row on the monitor: the whole program on
// memory files, the web application in memory and the spooling print
// service handing tickets to a printer outlet the test commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "orders/fcomanda.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/fake_web.h"
#include "support/fakes.h"
#include "support/line_ends.h"
#include "ui/headless/headless_runtime.h"

namespace kav::monitor {
namespace {

using record::cp1252;
using Rows = std::vector<std::string>;

const std::string kOrder = cp1252(
    "<0012><000345><Mesa 05><04><João>\n"
    "<0012><000101><Filé><000002,000><0000045,90><><COZINHA>\n"
    "<0012><000201><Caipirinha><000003,000><0000018,50><><BAR>\n");
const std::string kCancellation = cp1252("<0012><0003><000201><Caipirinha><pouco açúcar><BAR>\n");
const std::string kBill = cp1252(
    "<0015><000345><Mesa 07><02><Garçom: João><CAIXA><10>\n"
    "<000101><Filé><000002,000><0000012,50>\n");

struct Program {
  Program() { runtime.record_everything(); }

  void run_until(std::int64_t stop_ms) {
    runtime.at(stop_ms, [&] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
  }
  // The monitor's rows without their trailing blanks.
  Rows menu_rows() const {
    Rows out;
    for (const auto& row : runtime.last("00-MENU")->rows()) out.emplace_back(record::trim_right(row));
    return out;
  }
  Rows log() { return test::log_texts(files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"), true); }

  platform::MemoryFileSystem files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 0};
  test::FakeCommandRunner commands;
  test::FakeWeb web{files, commands};
  test::FakeOutlet* outlet = new test::FakeOutlet;
  log::Alerts alerts;
  log::CheckReport report;
  printing::SpoolingPrintService printing{files,
                                          clock,
                                          orders::fcomanda_layout(),
                                          std::unique_ptr<platform::print::PrinterOutlet>(outlet),
                                          app::Application::print_report(files, clock, report),
                                          &alerts};
  test::NoKeyedFiles keyed;
  platform::Platform platform{files, clock, commands, printing, keyed};
  app::Application application{platform, "localhost", alerts, report};
  ui::headless::VirtualPacer pacer{clock};
  ui::headless::HeadlessRuntime runtime{application.forms(), commands, pacer};
};

// Three checks: one that prints an order for two printers, a cancellation
// and a bill; one that meets a server that is down; one whose printer
// refuses its ticket. Each check's rows stand below its own row, in the
// order the work was done, with the words of the log; console mode prints
// the same rows. The log names every ticket's printer when it is delivered.
TEST(CheckRowsTest, EachCheckShowsWhatItPrintedAndWhatFailedBelowItsRow) {
  Program p;
  std::vector<std::string> console;
  ui::headless::print_rows(p.runtime, [&](const std::string& line) {
    if (!line.starts_with("[00-MENU] Alertas:")) console.push_back(line);
  });
  p.web.queue("CMD_IMP", kOrder);
  p.web.queue("CAN_ITE", kCancellation);
  p.web.queue("CMD_FEC", kBill);
  p.runtime.at(7000, [&] {
    p.outlet->finish_all();  // the first check's tickets are printed
    p.web.down = true;
  });
  p.runtime.at(12'000, [&] {
    p.web.down = false;
    p.outlet->outcome = platform::print::Outcome::refused;
    p.web.queue("CMD_IMP", kOrder);
  });
  p.run_until(16'000);

  const Rows rows = p.menu_rows();
  const Rows log = p.log();
  ASSERT_EQ(rows.size(), 10U) << ::testing::PrintToString(rows);
  EXPECT_EQ(rows[0], "14:38:05 - Checando Comandas ...");
  EXPECT_EQ(rows[1], cp1252("   Comanda 0012 itens » COZINHA, BAR"));
  EXPECT_EQ(rows[2], cp1252("   Comanda 0012 cancelamento » BAR"));
  EXPECT_EQ(rows[3], cp1252("   Comanda 0015 conta » CAIXA"));
  EXPECT_EQ(rows[4], "14:38:10 - Checando Comandas ...");
  // The same words as the order-processing form's own row and the log.
  const std::string down = rows[5].substr(3);
  EXPECT_TRUE(down.starts_with("Falha na consulta CMD_IMP: ")) << down;
  EXPECT_TRUE(down.ends_with(" !!!"));
  EXPECT_NE(std::find(log.begin(), log.end(), down), log.end());
  EXPECT_EQ(rows[6], "14:38:15 - Checando Comandas ...");
  EXPECT_EQ(rows[7], cp1252("   Comanda 0012 itens » COZINHA, BAR"));
  // The printers' refusals, learnt while the check handed the tickets over.
  EXPECT_EQ(rows[8], cp1252("   Não impresso em COZINHA (recusado): 20191127-14381500-000001-NAO-ENTREGUE.txt !!!"));
  EXPECT_EQ(rows[9], cp1252("   Não impresso em BAR (recusado): 20191127-14381500-000002-NAO-ENTREGUE.txt !!!"));

  for (const char* printed :
       {"Ticket 20191127-14380500-000001.txt entregue em COZINHA", "Ticket 20191127-14380500-000002.txt entregue em BAR",
        "Ticket 20191127-14380501-000001.txt entregue em BAR", "Ticket 20191127-14380502-000001.txt entregue em CAIXA"}) {
    EXPECT_EQ(std::count(log.begin(), log.end(), printed), 1) << printed;
  }

  // Console mode prints the monitor's rows, but a failure once: the
  // order-processing form printed it as it happened.
  Rows expected_console;
  for (const auto& row : rows) {
    if (row != rows[5]) expected_console.push_back("[00-MENU] " + record::to_utf8(row));
  }
  Rows console_menu;
  std::copy_if(console.begin(), console.end(), std::back_inserter(console_menu),
               [](const std::string& line) { return line.starts_with("[00-MENU]"); });
  EXPECT_EQ(console_menu, expected_console);
  EXPECT_EQ(std::count_if(console.begin(), console.end(),
                          [](const std::string& line) { return line.find("Falha na consulta CMD_IMP") != std::string::npos; }),
            1)
      << ::testing::PrintToString(console);
  EXPECT_NE(std::find(console.begin(), console.end(), "[90-COMANDAS] " + record::to_utf8(down)), console.end());
}

}  // namespace
}  // namespace kav::monitor
