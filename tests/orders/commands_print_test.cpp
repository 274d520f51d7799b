// The three commands' print jobs: which groups each job writes, in which
// order, with which field values, and what is reported.
#include <gtest/gtest.h>

#include "app/application.h"
#include "orders/print_form.h"
#include "record/cp1252.h"
#include "support/line_ends.h"
#include "support/fake_web.h"
#include "support/harness.h"
#include "ui/headless/headless_runtime.h"

namespace kav::orders {
namespace {

using Groups = std::vector<std::string>;

// The whole application on the fake platform, whose print service records
// every job with the printer information file as it stood at open.
struct Commands : ::testing::Test, test::Harness {
  test::FakeWeb web{files, commands};

  // Every job is a job of the print form FCOMANDA, and every group name is
  // written in its 8 characters.
  void TearDown() override {
    for (const auto& job : printing.jobs) {
      EXPECT_EQ(job.form, "FCOMANDA");
      for (const auto& w : job.writes) EXPECT_EQ(w.group.size(), 8U);
    }
  }

  // `checks` checks of the monitor, five seconds apart.
  void run(int checks = 1) { run_until(5000 * checks + 500); }
  // The rows of Lv_Proc of every opening of 90-COMANDAS, without trailing blanks.
  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    for (const auto& opening : runtime.openings()) {
      if (opening.name != "90-COMANDAS") continue;
      for (const auto& r : opening.rows()) out.emplace_back(record::trim_right(r));
    }
    return out;
  }
  // The day's log, line by line, text only (after date and time).
  std::vector<std::string> log_texts() const {
    return test::log_texts(files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"), true);
  }
};

// ---- Item tickets (CMD_IMP)

TEST_F(Commands, ItemTicketsOnePerPrinterInTheOrderTheOrderNamesThem) {
  web.queue("CMD_IMP",
            "<0012><000001><Mesa 7><03><Varanda>\n"
            "<0012><000100><Chopp><000001,000><0000008,00><><BAR>\n"
            "<0012><000200><Picanha><000001,000><0000080,00><ao ponto><COZINHA>\n"
            "<0012><000300><Caipirinha><000002,000><0000015,00><sem a\xE7\xFA""car><BAR>\n"
            "<0012><000400><Couvert><000001,000><0000005,00><x><>\n"
            "<0000>");
  run();
  EXPECT_EQ(rows(), std::vector<std::string>{"Imprimir itens da Comanda = 0012"});
  EXPECT_EQ(log_texts(), std::vector<std::string>{"Imprimir itens da Comanda = 0012"});

  ASSERT_EQ(printing.jobs.size(), 2U);
  const auto& bar = printing.jobs[0];
  const auto& cozinha = printing.jobs[1];
  EXPECT_EQ(bar.prtdrv(), "PRTDRV       \"BAR\"");
  EXPECT_EQ(cozinha.prtdrv(), "PRTDRV       \"COZINHA\"");
  // Two Caipirinhas: the quantity goes on the item's line (ITEQTD).
  EXPECT_EQ(bar.groups(), (Groups{"CABEC", "CABCMD", "ITECMD", "ITEQTD", "OBSITE", "TRACO", "ORBELA"}));
  EXPECT_EQ(cozinha.groups(), (Groups{"CABEC", "CABCMD", "ITECMD", "OBSITE", "TRACO", "ORBELA"}));

  const auto& cabec = bar.writes[0];
  EXPECT_EQ(cabec.field(prt_numcmd), "0012");
  EXPECT_EQ(cabec.field(prt_texto), record::padded("Mesa 7", 40));
  EXPECT_EQ(cabec.field(prt_compl), record::padded("Varanda", 20));
  EXPECT_EQ(cabec.field(prt_pessoas), record::padded("Pessoas :03", 20));
  EXPECT_EQ(cabec.field(prt_impressora), record::padded("BAR", 20));
  EXPECT_EQ(bar.writes[1].record, cabec.record);  // CABCMD: the same header
  EXPECT_EQ(bar.writes[2].field(prt_descricao), record::padded("Chopp", 40));
  EXPECT_EQ(bar.writes[3].field(prt_descricao), record::padded("Caipirinha", 40));
  EXPECT_EQ(bar.writes[3].field(prt_quantidade), "      2    ");
  EXPECT_EQ(bar.writes[4].field(prt_obs), record::padded("sem a\xE7\xFA" "car", 20));
  EXPECT_EQ(cozinha.writes[0].field(prt_impressora), record::padded("COZINHA", 20));
  EXPECT_EQ(cozinha.writes[3].field(prt_obs), record::padded("ao ponto", 20));
}

TEST_F(Commands, ItemsOfATwentyFirstPrinterArePrintedAndOfABlankPrinterNot) {
  std::string answer = "<0001><000001><Mesa><00><>";
  for (int i = 1; i <= 21; ++i) answer += "<0001><000100><Item " + std::to_string(i) + "><000001,000><0000001,00><><P" + std::to_string(i) + ">";
  answer += "<0001><000100><Sem impressora><000001,000><0000001,00><><>";
  web.queue("CMD_IMP", answer);
  run();
  ASSERT_EQ(printing.jobs.size(), 21U);  // the 21st printer after the 20 of TAB-IMPRESSORAS
  for (std::size_t i = 0; i < 21; ++i) {
    EXPECT_EQ(printing.jobs[i].groups(), (Groups{"CABEC", "CABCMD", "ITECMD", "TRACO", "ORBELA"}));
    EXPECT_EQ(printing.jobs[i].writes[2].field(prt_descricao), record::padded("Item " + std::to_string(i + 1), 40));
  }
  // People "00": PRT-PESSOAS stays blank.
  EXPECT_EQ(printing.jobs[0].writes[0].field(prt_pessoas), std::string(20, ' '));
}

TEST_F(Commands, AnOrderWithoutARegisteredPrinterIsStillReported) {
  web.queue("CMD_IMP", "<0007><000001><Mesa><  ><><0007><000100><Item><000001,000><0000001,00><><>");
  web.queue("CMD_IMP", "<0008><000001><Mesa><02><>");  // no items at all
  run();
  EXPECT_TRUE(printing.jobs.empty());
  EXPECT_EQ(rows(), (std::vector<std::string>{"Imprimir itens da Comanda = 0007", "Imprimir itens da Comanda = 0008"}));
}

// ---- Cancellation tickets (CAN_ITE)

TEST_F(Commands, CancellationTicketsBlankTheHeaderTextsAndCarryTheNotice) {
  web.queue("CMD_IMP", "<0012><000001><Mesa 7><03><Varanda><0012><000100><Chopp><000001,000><0000008,00><><BAR>");
  web.queue("CAN_ITE", "<0012><0003><000100><Chopp><><BAR>");
  web.queue("CAN_ITE", "<0012><0004><000200><Picanha><ao ponto><COZINHA><0099><junk>");
  run();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CAN_ITE", "CAN_ITE", "CAN_ITE", "CMD_FEC"}));
  EXPECT_EQ(rows(), (std::vector<std::string>{"Imprimir itens da Comanda = 0012",
                                              "Cancelado item 0003 da Comanda = 0012",
                                              "Cancelado item 0004 da Comanda = 0012"}));
  EXPECT_EQ(log_texts(), rows());

  ASSERT_EQ(printing.jobs.size(), 3U);
  const auto& first = printing.jobs[1];
  const auto& second = printing.jobs[2];
  EXPECT_EQ(first.groups(), (Groups{"CABEC", "CABCMD", "ITECMD", "TRACO", "CANC", "TRACO", "ORBELA"}));
  EXPECT_EQ(second.groups(), (Groups{"CABEC", "CABCMD", "ITECMD", "OBSITE", "TRACO", "CANC", "TRACO", "ORBELA"}));
  EXPECT_EQ(second.prtdrv(), "PRTDRV       \"COZINHA\"");
  const auto& cabec = first.writes[0];
  EXPECT_EQ(cabec.field(prt_numcmd), "0012");
  EXPECT_EQ(cabec.field(prt_texto), std::string(40, ' '));  // the item ticket's texts are gone
  EXPECT_EQ(cabec.field(prt_compl), std::string(20, ' '));
  EXPECT_EQ(cabec.field(prt_pessoas), std::string(20, ' '));
  EXPECT_EQ(cabec.field(prt_impressora), record::padded("BAR", 20));
  EXPECT_EQ(first.writes[2].field(prt_descricao), record::padded("Chopp", 40));
  EXPECT_EQ(second.writes[3].field(prt_obs), record::padded("ao ponto", 20));
}

TEST_F(Commands, ACancellationWithABlankPrinterStillPrints) {
  web.queue("CAN_ITE", "<0012><0003><000100><Chopp><><>");
  run();
  ASSERT_EQ(printing.jobs.size(), 1U);
  EXPECT_EQ(printing.jobs[0].prtdrv(), "PRTDRV       \"\"");
  EXPECT_EQ(printing.jobs[0].writes[0].field(prt_impressora), std::string(20, ' '));
}

// ---- Bills (CMD_FEC)

const char* kBillWithServiceAndPeople =
    "<0012><000001><Mesa 7><03><Varanda><CAIXA><10>"
    "<000100><Picanha><000002,000><0000012,50>"
    "<000200><Queijo><000000,350><0000040,00>"
    "<000000>";

TEST_F(Commands, ABillPrintsEachItemValueAndTheTotalsWithServiceAndPerPerson) {
  web.queue("CMD_FEC", kBillWithServiceAndPeople);
  run();
  // The printer message replaces the order message in its row; both are logged.
  EXPECT_EQ(rows(), std::vector<std::string>{"Impressora = CAIXA"});
  EXPECT_EQ(log_texts(), (std::vector<std::string>{"Imprimir Comanda para pagamento = 0012", "Impressora = CAIXA"}));

  ASSERT_EQ(printing.jobs.size(), 1U);
  const auto& bill = printing.jobs[0];
  EXPECT_EQ(bill.prtdrv(), "PRTDRV       \"CAIXA\"");
  EXPECT_EQ(bill.groups(), (Groups{"CABEC", "CABCMD", "ITECMD", "VALCMD", "ITECMD", "VALCMD", "TRACO", "SUBTOT",
                                   "SUBTOT", "SUBTOT", "SUBTOT", "TRACO", "ORBELA"}));
  const auto& cabec = bill.writes[0];
  EXPECT_EQ(cabec.field(prt_impressora), std::string(20, ' '));
  EXPECT_EQ(cabec.field(prt_pessoas), record::padded("Pessoas :03", 20));
  EXPECT_EQ(cabec.field(prt_texto), record::padded("Mesa 7", 40));
  EXPECT_EQ(cabec.field(prt_compl), record::padded("Varanda", 20));

  const auto& v1 = bill.writes[3];
  EXPECT_EQ(bill.writes[2].field(prt_descricao), record::padded("Picanha", 40));
  EXPECT_EQ(v1.field(prt_codigo), "000100");
  EXPECT_EQ(v1.field(prt_quantidade), "      2    ");
  EXPECT_EQ(v1.field(prt_valor), "       12,50");
  EXPECT_EQ(v1.field(prt_total), "       25,00");
  const auto& v2 = bill.writes[5];
  EXPECT_EQ(v2.field(prt_codigo), "000200");
  EXPECT_EQ(v2.field(prt_quantidade), "      0,350");
  EXPECT_EQ(v2.field(prt_valor), "       40,00");
  EXPECT_EQ(v2.field(prt_total), "       14,00");

  EXPECT_EQ(bill.writes[7].field(prt_linha_tot), "Total de Produtos        39,00 ");
  EXPECT_EQ(bill.writes[8].field(prt_linha_tot), record::cp1252("Serviço 10%               3,90 "));
  EXPECT_EQ(bill.writes[9].field(prt_linha_tot), "Total da Conta           42,90 ");
  EXPECT_EQ(bill.writes[10].field(prt_linha_tot), "Valor por Pessoa         14,30 ");
}

TEST_F(Commands, TotalLinesFollowTheServiceAndThePeople) {
  // Service 00, people 00: only the products total.
  web.queue("CMD_FEC", "<0001><000001><Mesa><00><><CAIXA><00><000100><A><000001,500><0000010,00>");
  // Service 00, people 04: the products total divided by 4.
  web.queue("CMD_FEC", "<0002><000001><Mesa><04><><CAIXA><00><000100><A><000003,000><0000010,01>");
  // No items at all, service 05.
  web.queue("CMD_FEC", "<0003><000001><Mesa><00><><CAIXA><05>");
  run();
  ASSERT_EQ(printing.jobs.size(), 3U);
  const auto& only = printing.jobs[0];
  EXPECT_EQ(only.groups(), (Groups{"CABEC", "CABCMD", "ITECMD", "VALCMD", "TRACO", "SUBTOT", "TRACO", "ORBELA"}));
  EXPECT_EQ(only.writes[3].field(prt_quantidade), "      1,500");
  EXPECT_EQ(only.writes[5].field(prt_linha_tot), "Total de Produtos        15,00 ");

  const auto& per_person = printing.jobs[1];
  EXPECT_EQ(per_person.groups(),
            (Groups{"CABEC", "CABCMD", "ITECMD", "VALCMD", "TRACO", "SUBTOT", "SUBTOT", "TRACO", "ORBELA"}));
  EXPECT_EQ(per_person.writes[3].field(prt_quantidade), "      3    ");
  EXPECT_EQ(per_person.writes[5].field(prt_linha_tot), "Total de Produtos        30,03 ");
  EXPECT_EQ(per_person.writes[6].field(prt_linha_tot), "Valor por Pessoa          7,50 ");  // 7,5075 cut

  const auto& empty = printing.jobs[2];
  EXPECT_EQ(empty.groups(), (Groups{"CABEC", "CABCMD", "TRACO", "SUBTOT", "SUBTOT", "SUBTOT", "TRACO", "ORBELA"}));
  EXPECT_EQ(empty.writes[3].field(prt_linha_tot), "Total de Produtos         0,00 ");
  EXPECT_EQ(empty.writes[4].field(prt_linha_tot), record::cp1252("Serviço 05%               0,00 "));
}

TEST_F(Commands, ZeroQuantitiesArePassedOverAndValuesKeepNineDigits) {
  web.queue("CMD_FEC",
            "<0001><000001><Mesa><00><><CAIXA><00>"
            "<000100><A><000001,000><0000001,00>"
            "<000200><Brinde><000000,000><0000099,00>"
            "<000300><C><999999,999><9999999,99>");
  run();
  ASSERT_EQ(printing.jobs.size(), 1U);
  const auto& bill = printing.jobs[0];
  EXPECT_EQ(bill.groups(),
            (Groups{"CABEC", "CABCMD", "ITECMD", "VALCMD", "ITECMD", "VALCMD", "TRACO", "SUBTOT", "TRACO", "ORBELA"}));
  EXPECT_EQ(bill.writes[4].field(prt_descricao), record::padded("C", 40));
  // 999.999,999 x 9.999.999,99 = 9.999.999.980.000,00001: in hundredths
  // 999999998000000, of which the last 9 digits stay.
  EXPECT_EQ(bill.writes[5].field(prt_total), "9.980.000,00");
  EXPECT_EQ(bill.writes[5].field(prt_quantidade), "999.999,999");
  EXPECT_EQ(bill.writes[5].field(prt_valor), "9.999.999,99");
}

TEST_F(Commands, ABillWithoutAPrinterIsReportedAndNotPrinted) {
  web.queue("CMD_FEC", "<0012><000001><Mesa><02><><><10><000100><A><000001,000><0000001,00>");
  run();
  EXPECT_TRUE(printing.jobs.empty());
  EXPECT_EQ(rows(), std::vector<std::string>{"Imprimir Comanda para pagamento = 0012"});
  EXPECT_EQ(log_texts(), rows());
}

TEST_F(Commands, ThePrintRecordKeepsItsFieldsFromJobToJob) {
  // A bill in the first check, a cancellation in the second: the ticket
  // shows no code, yet the record still carries the bill's PRT-CODIGO.
  web.queue("CMD_FEC", kBillWithServiceAndPeople);
  web.on_request = [this](const std::string& command) {
    if (command == "CMD_FEC" && web.requests.size() == 4) web.queue("CAN_ITE", "<0012><0003><000555><Chopp><><BAR>");
  };
  run(2);
  ASSERT_EQ(printing.jobs.size(), 2U);
  const auto& cancel = printing.jobs[1];
  EXPECT_EQ(cancel.groups(), (Groups{"CABEC", "CABCMD", "ITECMD", "TRACO", "CANC", "TRACO", "ORBELA"}));
  for (const auto& w : cancel.writes) {
    EXPECT_EQ(w.field(prt_codigo), "000200");
    EXPECT_EQ(w.field(prt_linha_tot), "Valor por Pessoa         14,30 ");
  }
}

TEST_F(Commands, ServiceAndPeopleThatAreNotDigitsCountByTheirValue) {
  // A header cut short: people " 4" and service "1x" read as 4 and 10. The
  // people print as sent (" 4"), digits and blanks being what they are.
  web.queue("CMD_FEC", "<0001><000001><Mesa>< 4><><CAIXA><1x><000100><A><000001,000><0000010,00>");
  run();
  ASSERT_EQ(printing.jobs.size(), 1U);
  const auto& bill = printing.jobs[0];
  EXPECT_EQ(bill.writes[0].field(prt_pessoas), record::padded("Pessoas : 4", 20));
  EXPECT_EQ(bill.writes[6].field(prt_linha_tot), record::cp1252("Serviço 10%               1,00 "));
  EXPECT_EQ(bill.writes[8].field(prt_linha_tot), "Valor por Pessoa          2,75 ");
}

}  // namespace
}  // namespace kav::orders
