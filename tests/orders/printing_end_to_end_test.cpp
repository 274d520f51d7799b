// Printing end to end: the stand-in web application on a loopback port, GNU
// Wget run through the command runner, the whole application, and the print
// service keeping every ticket in the spool folder of a real root.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/stand_in_web.h"

namespace kav::orders {
namespace {

namespace fs = std::filesystem;
using record::cp1252;

struct EndToEnd : test::StandInWebTest {
  EndToEnd() { print_service = &service; }

  // One check of the monitor against the stand-in.
  void run_one_check() { check_against_stand_in(); }

  // The tickets of a printer's spool folder, in name order, as UTF-8 text.
  std::vector<std::pair<std::string, std::string>> tickets(const std::string& folder) const {
    std::set<fs::path> names;
    const fs::path dir = root.path() / "OrbelaTeknovarium" / "Spool" / folder;
    if (fs::exists(dir)) {
      for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path());
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& p : names) out.emplace_back(p.filename().string(), record::to_utf8(test::slurp(p)));
    return out;
  }

  std::string log_text() const {
    return record::to_utf8(test::slurp(root.path() / "OrbelaTeknovarium" / "LOGCMD_20191127.txt"));
  }

  test::FakeOutlet* outlet = new test::FakeOutlet;
  kav::printing::SpoolingPrintService service{
      *root.files, clock, fcomanda_layout(), std::unique_ptr<platform::print::PrinterOutlet>(outlet),
      [this](std::string_view text) { log::write_log_line(*root.files, clock, text); }};
};

TEST_F(EndToEnd, AnOrderForTwoPrintersTwoCancellationsAndABill) {
  queue_sample("CMD_IMP");
  queue_sample("CAN_ITE");
  queue("CAN_ITE", "002.txt", cp1252("<0012><0004><000202><Água com gás><><BAR>"));
  queue_sample("CMD_FEC");
  run_one_check();

  // Handed over, not yet finished: every ticket keeps its mark until the
  // printer has finished it, seen at a later look.
  EXPECT_EQ(tickets("CAIXA").at(0).first, "20191127-14380503-000001-NAO-ENTREGUE.txt");
  outlet->finish_all();
  service.follow_up();
  // Every answer was retired once its tickets were kept.
  for (const auto& e : fs::directory_iterator(root.temp())) {
    EXPECT_FALSE(e.path().filename().string().starts_with("KAVPEND")) << e.path();
  }

  // Item tickets: one per printer, in the spool folders of the two printers.
  const auto cozinha = tickets("COZINHA");
  ASSERT_EQ(cozinha.size(), 1U);
  EXPECT_EQ(cozinha[0].first, "20191127-14380500-000001.txt");
  EXPECT_EQ(cozinha[0].second,
            "================================================\n"
            "              *** COMANDA 0012 ***\n"
            "                27/11/2019 14:38\n"
            "================================================\n"
            "Impressora: COZINHA\n"
            "Mesa 05 - Salão principal\n"
            "Garçom: João                Pessoas :04\n"
            "2 x Filé à parmegiana\n"
            "    Obs.: sem cebola\n"
            "Feijoada completa\n"
            "------------------------------------------------\n"
            "      KavComanda - Orbela Teknovarium Ltda\n");

  // BAR: the item ticket, then the two cancellations, in printing order.
  const auto bar = tickets("BAR");
  ASSERT_EQ(bar.size(), 3U);
  EXPECT_EQ(bar[0].first, "20191127-14380500-000002.txt");
  EXPECT_NE(bar[0].second.find("3 x Caipirinha de limão\n    Obs.: pouco açúcar\n2 x Água com gás\n"), std::string::npos);
  EXPECT_EQ(bar[1].second,
            "================================================\n"
            "              *** COMANDA 0012 ***\n"
            "                27/11/2019 14:38\n"
            "================================================\n"
            "Impressora: BAR\n"
            "Caipirinha de limão\n"
            "    Obs.: pouco açúcar\n"
            "------------------------------------------------\n"
            "************************************************\n"
            "***       I T E M   C A N C E L A D O        ***\n"
            "************************************************\n"
            "------------------------------------------------\n"
            "      KavComanda - Orbela Teknovarium Ltda\n");
  EXPECT_NE(bar[2].second.find("Impressora: BAR\nÁgua com gás\n---"), std::string::npos);

  // The bill: two items, service 10%, three people.
  const auto caixa = tickets("CAIXA");
  ASSERT_EQ(caixa.size(), 1U);
  EXPECT_EQ(caixa[0].first, "20191127-14380503-000001.txt");
  EXPECT_EQ(caixa[0].second,
            "================================================\n"
            "              *** COMANDA 0012 ***\n"
            "                27/11/2019 14:38\n"
            "================================================\n"
            "Mesa 05 - Salão principal\n"
            "Garçom: João                Pessoas :03\n"
            "Filé à parmegiana\n"
            "  000101       2             12,50         25,00\n"
            "Picanha na chapa (kg)\n"
            "  000305       0,350         40,00         14,00\n"
            "------------------------------------------------\n"
            "                  Total de Produtos        39,00\n"
            "                  Serviço 10%               3,90\n"
            "                  Total da Conta           42,90\n"
            "                  Valor por Pessoa         14,30\n"
            "------------------------------------------------\n"
            "      KavComanda - Orbela Teknovarium Ltda\n");

  const std::string log = log_text();
  for (const char* text : {"Imprimir itens da Comanda = 0012", "Cancelado item 0003 da Comanda = 0012",
                           "Cancelado item 0004 da Comanda = 0012", "Imprimir Comanda para pagamento = 0012",
                           "Impressora = CAIXA"}) {
    EXPECT_NE(log.find(std::string("20191127 1438 ") + text), std::string::npos) << text;
  }
  // Every ticket went to its printer; FORMPRT.PRT names the last one.
  ASSERT_EQ(outlet->handed.size(), 5U);
  EXPECT_EQ(outlet->handed[4].job.printer, "CAIXA");
  EXPECT_NE(test::slurp(root.temp() / "FORMPRT.PRT").find("PRTDRV       \"CAIXA\""), std::string::npos);
}

TEST_F(EndToEnd, TicketsThePrinterDidNotTakeStayMarkedAndAreLogged) {
  outlet->outcome = platform::print::Outcome::unknown_printer;
  queue_sample("CAN_ITE");
  run_one_check();
  const auto bar = tickets("BAR");
  ASSERT_EQ(bar.size(), 1U);
  EXPECT_EQ(bar[0].first, "20191127-14380500-000001-NAO-ENTREGUE.txt");
  EXPECT_NE(log_text().find("20191127 1438 Não impresso em BAR (inexistente): "
                            "20191127-14380500-000001-NAO-ENTREGUE.txt !!!"),
            std::string::npos)
      << log_text();
}

}  // namespace
}  // namespace kav::orders
