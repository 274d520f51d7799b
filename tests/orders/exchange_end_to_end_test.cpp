// The processing run with real processes: the stand-in web application on a
// loopback port, the command interpreter stand-in and GNU Wget.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record/area.h"
#include "record/cp1252.h"
#include "support/stand_in_web.h"
#include "webstub/webstub.h"

namespace kav::orders {
namespace {

using ExchangeEndToEnd = test::StandInWebTest;

TEST_F(ExchangeEndToEnd, TwoQueuedOrdersGiveThreePrintExchangesThenOneOfEachOtherCommand) {
  // The first answer starts with a line of the web server's own output.
  queue("CMD_IMP", "001.txt", "Warning: something\r\n<0012><000001><Mesa 1><02><>\r\n<0012><000100><Cafe>"
                              "<000001,000><0000003,50><><BAR>\r\n");
  queue("CMD_IMP", "002.txt", "<0013><000002><Mesa 2><00><>");
  const auto rows = check_against_stand_in();

  EXPECT_EQ(served(), (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  ASSERT_EQ(rows.size(), 2U);
  EXPECT_EQ(rows[0], record::padded("Imprimir itens da Comanda = 0012", 210));
  EXPECT_EQ(rows[1], record::padded("Imprimir itens da Comanda = 0013", 210));
  ASSERT_EQ(printing.jobs.size(), 1U);  // order 13 names no printer
}

TEST_F(ExchangeEndToEnd, WithTheWebServerDownTheRunGivesUpAfterOneExchangeAndSaysSo) {
  // A loopback port that nothing listens on: take a free one and close it.
  webstub::WebStub probe(options);
  const int port = probe.start();
  ASSERT_GT(port, 0) << probe.error();
  probe.stop();

  const auto rows = one_check("127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(exchanges, 1U);
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_EQ(
      rows[0],
      record::padded(record::cp1252("Falha na consulta CMD_IMP: servidor fora do ar ou conexão recusada !!!"), 210));
  EXPECT_TRUE(printing.jobs.empty());
}

}  // namespace
}  // namespace kav::orders
