#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/check_report.h"
#include "record/cp1252.h"

namespace kav::log {
namespace {

using Rows = std::vector<std::string>;
using Kind = CheckReport::Kind;
using record::cp1252;

// An order's row names its printers once each, as the spooler knows them;
// an order that named no printer says so rather than showing an empty list.
TEST(CheckReportTest, AnOrderRowNamesItsKindAndPrinters) {
  EXPECT_EQ(CheckReport::order_row(Kind::items, "0012", {"COZINHA", "BAR ", "COZINHA"}),
            cp1252("Comanda 0012 itens » COZINHA, BAR"));
  EXPECT_EQ(CheckReport::order_row(Kind::cancellation, "0012", {"   "}),
            cp1252("Comanda 0012 cancelamento » (sem impressora)"));
  EXPECT_EQ(CheckReport::order_row(Kind::bill, "0007", {}), cp1252("Comanda 0007 conta » (sem impressora)"));
  // A control character in a name would break the row: it shows as a blank.
  EXPECT_EQ(CheckReport::order_row(Kind::bill, "0007", {"CAI\nXA"}), cp1252("Comanda 0007 conta » CAI XA"));
}

// Up to 100 printers: the row stays within the log's width and counts the
// names it leaves out, so the list never suggests an order went to fewer.
TEST(CheckReportTest, PrintersPastTheWidthAreCounted) {
  std::vector<std::string> printers;
  for (int i = 1; i <= 30; ++i) printers.push_back("IMPRESSORA-" + std::to_string(i));
  const std::string row = CheckReport::order_row(Kind::items, "0012", printers);
  EXPECT_LE(row.size(), CheckReport::kTextWidth);
  const auto more = row.rfind(" e mais ");
  ASSERT_NE(more, std::string::npos);
  const int left_out = std::stoi(row.substr(more + 8));
  // The names shown plus the count are the 30.
  int shown = 1;
  for (char c : row.substr(0, more)) shown += c == ',' ? 1 : 0;
  EXPECT_EQ(shown + left_out, 30);
  EXPECT_NE(row.find("IMPRESSORA-" + std::to_string(shown) + " e mais"), std::string::npos);
  // One name longer than the width is cut, as the log cuts it.
  EXPECT_EQ(CheckReport::order_row(Kind::bill, "0012", {std::string(200, 'X')}).size(), CheckReport::kTextWidth);
}

// The rows of a piece of work put its order before the failures met while
// its tickets were made; the print service's lines are rows only when they
// report a failure; take() empties the report.
TEST(CheckReportTest, RowsInTheOrderOfTheWorkAndOnlyFailuresOfReports) {
  CheckReport report;
  report.failure("Falha na consulta CAN_ITE: servidor fora do ar !!!");
  const auto mark = report.mark();
  report.failure(cp1252("Comanda 0012 com 250 itens: itens além de 200 não impressos !!!"));
  report.order(mark, Kind::items, "0012", {"COZINHA"});
  report.report("Reenviando 20191127-14380500-000001-NAO-ENTREGUE.txt para BAR ...");
  report.report("Ticket 20191127-14380500-000001.txt entregue em BAR");
  report.report(cp1252("Não impresso em BAR (recusado): 20191127-14380500-000002-NAO-ENTREGUE.txt !!!"));
  report.failure("Falha ao gravar Spool de BAR !!!   " + std::string(100, ' '));
  EXPECT_EQ(report.take(),
            (Rows{"Falha na consulta CAN_ITE: servidor fora do ar !!!", cp1252("Comanda 0012 itens » COZINHA"),
                  cp1252("Comanda 0012 com 250 itens: itens além de 200 não impressos !!!"),
                  cp1252("Não impresso em BAR (recusado): 20191127-14380500-000002-NAO-ENTREGUE.txt !!!"),
                  "Falha ao gravar Spool de BAR !!!"}));
  EXPECT_TRUE(report.take().empty());
}

}  // namespace
}  // namespace kav::log
