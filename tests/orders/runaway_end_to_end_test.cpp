// A web application that keeps handing out the same order, met with real
// processes: the stand-in on a loopback port and GNU Wget. The stand-in
// hands each queued answer out once, so a queue of the same order many times
// over plays a page that repeats itself.
#include <gtest/gtest.h>

#if !defined(_WIN32)  // the stand-in web application and the POSIX command runner

#include <string>
#include <vector>

#include "orders/comandas_form.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "record/digits.h"
#include "support/stand_in_web.h"

namespace kav::orders {
namespace {

using RunawayEndToEnd = test::StandInWebTest;

TEST_F(RunawayEndToEnd, TheSameOrderOverAndOverLeavesRoomForCancellationsAndBills) {
  const std::size_t bound = ComandasForm::kMaxAnswersPerCommand;
  const std::string same = "<0012><000001><Mesa 1><02><>\r\n<0012><000100><Cafe><000001,000><0000003,50><><BAR>\r\n";
  for (std::size_t i = 1; i <= bound + 10; ++i) queue("CMD_IMP", record::to_digits(i, 3) + ".txt", same);
  queue("CAN_ITE", "001.txt", "<0012><0001><000100><Cafe><><BAR>\r\n");
  queue("CMD_FEC", "001.txt", "<0012><000001><Mesa 1><02><><CAIXA><10>\r\n<000100><Cafe><000001,000><0000003,50>\r\n");
  const auto rows = check_against_stand_in();

  std::vector<std::string> expected(bound, "CMD_IMP");
  for (const char* c : {"CAN_ITE", "CAN_ITE", "CMD_FEC", "CMD_FEC"}) expected.emplace_back(c);
  EXPECT_EQ(served(), expected);
  ASSERT_EQ(rows.size(), bound + 3);
  EXPECT_EQ(rows[bound], record::padded(record::cp1252("Limite de 50 respostas CMD_IMP por checagem atingido, "
                                                       "o restante fica para a próxima !!!"),
                                        210));
  EXPECT_EQ(rows[bound + 1], record::padded("Cancelado item 0001 da Comanda = 0012", 210));
  EXPECT_EQ(rows[bound + 2], record::padded("Impressora = CAIXA", 210));
  EXPECT_EQ(printing.jobs.size(), bound + 2);
}

}  // namespace
}  // namespace kav::orders

#endif
