#include <gtest/gtest.h>

#include "orders/answer_reader.h"
#include "orders/comandas_form.h"
#include "orders/exchange.h"
#include "platform/status.h"
#include "record/digits.h"
#include "support/fake_web.h"
#include "support/harness.h"
#include "support/line_ends.h"

namespace kav::orders {
namespace {

TEST(BatchLineTest, ByteForByte) {
  const std::string line = batch_line("localhost", "CMD_IMP");
  const std::string expected =
      "\\OrbelaTeknovarium\\Kav\\WGET \"http://localhost/Comandas/GET_KAVCMD.php?COMANDO=CMD_IMP\"     "
      "--output-document=C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET --no-cache";
  EXPECT_EQ(line, record::padded(expected, 200));
  EXPECT_EQ(expected.size(), 27U + 2 + 7 + 9 + 24 + 17 + 5 + 58 + 11);
  EXPECT_EQ(kDeleteAnswer.size(), 58U);
  EXPECT_EQ(kRunBatch.size(), 51U);
}

// Reads an answer from memory with the primitives.
struct Reading {
  explicit Reading(std::string bytes) {
    files.put("C:\\a", std::move(bytes));
    file.open("C:\\a", platform::OpenMode::input).ignore();
  }
  platform::MemoryFileSystem files;
  platform::TextFile file{files};
  AnswerReader r{file};
};

TEST(AnswerReaderTest, PrimitivesFollowTheFraming) {
  Reading a("HTTP junk\r\n<0012><000034><Mesa 5><04><Varanda>\r\n<0012><A>");
  EXPECT_TRUE(a.r.skip_to_lt());
  EXPECT_EQ(a.r.fixed(4), "0012");
  a.r.skip(2);
  EXPECT_EQ(a.r.fixed(6), "000034");
  a.r.skip(2);
  EXPECT_EQ(a.r.text(40), record::padded("Mesa 5", 40));
  a.r.skip(1);
  EXPECT_EQ(a.r.fixed(2), "04");
  a.r.skip(2);
  EXPECT_EQ(a.r.text(7), "Varanda");  // exactly its width: read up to and including ">"
  EXPECT_TRUE(a.r.skip_to_lt());
  EXPECT_EQ(a.r.fixed(4), "0012");
}

TEST(AnswerReaderTest, DecimalsDropTheSeparatorWhateverItIs) {
  Reading a("000002,350|0000012X50|");
  EXPECT_EQ(a.r.decimal(6, 3), "000002350");
  a.r.skip(1);
  EXPECT_EQ(a.r.decimal(7, 2), "000001250");
}

TEST(AnswerReaderTest, ALongTextIsPassedOverToItsCloseSoTheNextFieldStaysAligned) {
  Reading a("<ABCDEFGHIJ><X>");
  a.r.skip_to_lt();
  EXPECT_EQ(a.r.text(4), "ABCD");
  a.r.skip(1);
  EXPECT_EQ(a.r.text(4), "X   ");
}

TEST(AnswerReaderTest, TheEndOfTheFileInsideARecordGivesBlanks) {
  Reading a("<00");
  EXPECT_TRUE(a.r.skip_to_lt());
  EXPECT_EQ(a.r.fixed(4), "00  ");
  EXPECT_EQ(a.r.text(5), "     ");
  EXPECT_EQ(a.r.decimal(2, 1), "   ");
  EXPECT_FALSE(a.r.skip_to_lt());
  Reading empty("\r\n\r\n");
  EXPECT_FALSE(empty.r.skip_to_lt());
  Reading lone("abc<");  // a "<" as the very last byte still opens a record
  EXPECT_TRUE(lone.r.skip_to_lt());
  EXPECT_EQ(lone.r.fixed(1), " ");
}

// The processing run on the whole application, with the web application and
// its answers in memory. Each test looks at the work areas as the next
// exchange begins, which is where a command has finished with its answer.
struct RunTest : ::testing::Test {
  RunTest() {
    h.commands.on_run = [this, run = h.commands.on_run](std::string_view line) {
      if (line.find(" DEL ") != std::string_view::npos) seen.push_back(comandas().areas());
      return run(line);
    };
  }
  const ComandasForm& comandas() {
    return static_cast<const ComandasForm&>(*h.application.forms().find("90-COMANDAS"));
  }
  // One check: the monitor's fifth tick opens the order-processing form.
  void one_check() { h.run_until(5500); }

  test::Harness h;
  test::FakeWeb web{h.files, h.commands};
  std::vector<WorkAreas> seen;
};

TEST_F(RunTest, WithNothingWaitingARunMakesThreeExchangesAndReportsNothing) {
  one_check();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  EXPECT_TRUE(h.runtime.last("90-COMANDAS")->rows().empty());
  EXPECT_EQ(h.runtime.count_openings("99-LOG"), 1U);  // the monitor's own status line
  // Delete, then the batch, for every exchange.
  ASSERT_EQ(h.commands.lines.size(), 6U);
  EXPECT_EQ(h.commands.lines[0], kDeleteAnswer);
  EXPECT_EQ(h.commands.lines[1], kRunBatch);
  EXPECT_EQ(h.commands.modes, std::vector<int>(6, 0));
  EXPECT_EQ(h.files.contents("C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat"),
            test::with_line_ends(std::string(record::trim_right(batch_line("localhost", "CMD_FEC"))) + "\n"));
}

TEST_F(RunTest, EachOrderStartsANewExchangeUntilTheEndMarker) {
  web.queue("CMD_IMP", "<0012><000001><Mesa 1><02><Varanda>\n"
                       "<0012><000100><Caf\xE9><000001,000><0000003,50><sem a\xE7\xFA""car><BAR>\n"
                       "<0012><000200><P\xE3o><000002,500><0000001,00><><COZINHA>\n<0000>");
  web.queue("CMD_IMP", "<0013><000002><Mesa 2><00><>");
  one_check();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  ASSERT_GE(seen.size(), 3U);
  const WorkAreas& first = seen[1];  // after the first order was handled
  EXPECT_EQ(first.cmd.numero, "0012");
  EXPECT_EQ(first.cmd.texto, record::padded("Mesa 1", 40));
  EXPECT_EQ(first.cmd.pessoas, "02");
  EXPECT_EQ(first.cmd.compl_, record::padded("Varanda", 20));
  EXPECT_EQ(first.w_item, 3U);  // two items and the end marker
  EXPECT_EQ(first.tab_itens[0].descricao, record::padded("Caf\xE9", 40));
  EXPECT_EQ(first.tab_itens[0].quantidade, "000001000");
  EXPECT_EQ(first.tab_itens[0].valor, "000000350");
  EXPECT_EQ(first.tab_itens[0].obs, record::padded("sem a\xE7\xFA" "car", 20));
  EXPECT_EQ(first.tab_itens[1].obs, std::string(20, ' '));
  EXPECT_EQ(first.tab_impressoras[0], record::padded("BAR", 20));
  EXPECT_EQ(first.tab_impressoras[1], record::padded("COZINHA", 20));
  EXPECT_EQ(first.tab_impressoras[2], std::string(20, ' '));
  const WorkAreas& second = seen[2];
  EXPECT_EQ(second.cmd.numero, "0013");
  EXPECT_EQ(second.w_item, 0U);  // the answer ended after the header
}

// A number made only of zeros (blanks read as zeros) or only of nines ends
// the command's answers; any other is work, and the command is asked again.
TEST_F(RunTest, AnEndMarkerEndsTheCommandAndAnyOtherNumberIsWork) {
  web.queue("CMD_IMP", "<9998><000001><Mesa 1><00><>");
  web.queue("CMD_IMP", "<0001><000002><Mesa 2><00><>");
  web.queue("CMD_IMP", "<0 0 ><000003><Mesa 3><00><>");
  web.queue("CAN_ITE", "<9999><0003><000100><Caf\xE9><><BAR>");
  web.queue("CMD_FEC", "<    ><000001><Mesa 1><03><><CAIXA><10>");
  one_check();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  ASSERT_GE(seen.size(), 3U);
  EXPECT_EQ(seen[1].cmd.numero, "9998");
  EXPECT_EQ(seen[2].cmd.numero, "0001");
}

// Within an answer, an item whose order number (in a bill, whose code) is
// an end marker ends the items: what follows it is not read.
TEST_F(RunTest, AnEndMarkerEndsTheItems) {
  web.queue("CMD_IMP", "<0012><000001><Mesa 1><02><>"
                       "<0012><000100><Caf\xE9><000001,000><0000003,50><><BAR>"
                       "<9999><000200><P\xE3o><000001,000><0000001,00><><BAR>"
                       "<0012><000300><Suco><000001,000><0000001,00><><BAR>");
  web.queue("CMD_FEC", "<0012><000001><Mesa 1><03><><CAIXA><10>"
                       "<000100><Refri><000002,000><0000012,50>"
                       "<999999><Queijo><000000,350><0000040,00>"
                       "<000300><Suco><000001,000><0000001,00>");
  one_check();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC", "CMD_FEC"}));
  ASSERT_EQ(seen.size(), 5U);
  const WorkAreas& order = seen[1];
  EXPECT_EQ(order.w_item, 2U);  // one item and the end marker
  EXPECT_EQ(order.tab_itens[0].codigo, "000100");
  EXPECT_NE(order.tab_itens[1].codigo, "000300");
  const WorkAreas& bill = seen[4];
  EXPECT_EQ(bill.w_item, 2U);
  EXPECT_EQ(bill.tab_itens[0].codigo, "000100");
  EXPECT_NE(bill.tab_itens[1].codigo, "000300");
}

TEST_F(RunTest, CancellationsAndBillsAreReadWithTheirOwnLayouts) {
  web.queue("CAN_ITE", "<0012><0003><000100><Caf\xE9><sem a\xE7\xFA""car><BAR><ignored>");
  web.queue("CMD_FEC", "<0012><000001><Mesa 1><03><Varanda><CAIXA><10>"
                       "<000100><Refri><000002,000><0000012,50>"
                       "<000200><Queijo><000000,350><0000040,00><000000>");
  one_check();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CAN_ITE", "CAN_ITE", "CMD_FEC", "CMD_FEC"}));
  ASSERT_EQ(seen.size(), 5U);
  const WorkAreas& cancel = seen[2];
  EXPECT_EQ(cancel.cmd.numero, "0012");
  EXPECT_EQ(cancel.tab_itens[0].numcmd, "0003");
  EXPECT_EQ(cancel.tab_itens[0].codigo, "000100");
  EXPECT_EQ(cancel.tab_itens[0].impressora, record::padded("BAR", 20));
  const WorkAreas& bill = seen[4];
  EXPECT_EQ(bill.cmd.pessoas, "03");
  EXPECT_EQ(bill.cmd.servico, "10");
  EXPECT_EQ(bill.tab_itens[0].impressora, record::padded("CAIXA", 20));
  EXPECT_EQ(bill.tab_itens[0].codigo, "000100");
  EXPECT_EQ(bill.tab_itens[0].quantidade, "000002000");
  EXPECT_EQ(bill.tab_itens[1].valor, "000004000");
  EXPECT_EQ(bill.tab_itens[2].codigo, "000000");
  EXPECT_EQ(bill.tab_itens[2].quantidade, "000000000");
  EXPECT_EQ(bill.w_item, 3U);
}

// The table keeps its 200 rows; what becomes of the items past them is in
// order_limits_test.cpp.
TEST_F(RunTest, MoreThanTwoHundredItemsKeepTheTableAtItsRows) {
  std::string answer = "<0001><000001><Mesa><00><>";
  for (int i = 1; i <= 250; ++i) {
    answer += "<0001><" + record::to_digits(static_cast<unsigned>(i), 6) + "><Item><000001,000><0000001,00><><P" +
              std::to_string(i % 30) + ">";
  }
  web.queue("CMD_IMP", answer);
  one_check();
  ASSERT_GE(seen.size(), 2U);
  EXPECT_EQ(seen[1].w_item, 200U);
  EXPECT_EQ(seen[1].tab_itens[199].codigo, "000200");
  EXPECT_EQ(web.requests.size(), 4U);
}

TEST_F(RunTest, AFailedDownloadNeverLeavesTheOldAnswerToBeReadAgain) {
  web.queue("CMD_IMP", "<0012><000001><Mesa 1><02><>");
  web.on_request = [this](const std::string&) { web.down = web.requests.size() > 1; };
  one_check();
  // The second exchange failed and found no answer file: the previous order
  // was deleted before the batch ran, so it was not handled twice. The run
  // gave up there.
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP"}));
  EXPECT_FALSE(h.files.exists(test::FakeWeb::kAnswer));
}

TEST_F(RunTest, AnswersWithoutRecordsEndTheCommandQuietly) {
  web.queue("CMD_IMP", "\r\n\r\n");
  web.queue("CAN_ITE", "<9999>");
  web.queue("CMD_FEC", "<    ><000001>");
  one_check();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  EXPECT_EQ(h.runtime.last("90-COMANDAS")->closed_ms, 5001);
}

TEST_F(RunTest, AMegabyteOfBinaryAnswerIsReadAndEnds) {
  std::string junk(1 << 20, '\0');
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 7919) % 251);
  web.queue("CMD_IMP", "<0001>" + junk);
  web.queue("CMD_FEC", "<0001><" + junk);
  one_check();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC", "CMD_FEC"}));
}

}  // namespace
}  // namespace kav::orders
