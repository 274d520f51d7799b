// The tickets as they come out of the print service: the print form's
// groups laid out with FCOMANDA and kept in the spool folder.
#include <gtest/gtest.h>

#include "orders/edited.h"
#include "orders/fcomanda.h"
#include "orders/print_form.h"
#include "platform/clock.h"
#include "platform/line_end.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"

namespace kav::orders {
namespace {

using kav::printing::SpoolingPrintService;

struct Printing {
  platform::MemoryFileSystem files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeOutlet* outlet = new test::FakeOutlet;
  std::vector<std::string> reports;
  SpoolingPrintService service{files, clock, fcomanda_layout(), std::unique_ptr<platform::print::PrinterOutlet>(outlet),
                               [this](std::string_view t) { reports.emplace_back(t); }};
  PrintForm form{files, service};
  record::Area& reg = form.reg_impressao();

  // The last ticket, with LF line ends.
  std::string ticket() const {
    std::string t = outlet->handed.back().ticket;
    if (platform::kLineEnd != "\n") {
      for (std::size_t p; (p = t.find(platform::kLineEnd)) != std::string::npos;) t.replace(p, 2, "\n");
    }
    return t;
  }
};

TEST(Tickets, ItemTicket) {
  Printing p;
  p.form.proc_cfgimp(record::padded("COZINHA", 20));
  p.form.open().ignore();
  p.reg.set(prt_numcmd, "0012");
  p.reg.set(prt_texto, "Mesa 7");
  p.form.move_pessoas("03");
  p.reg.set(prt_compl, "Varanda");
  p.reg.set(prt_impressora, "COZINHA");
  p.form.write(grupo::cabec).ignore();
  p.form.write(grupo::cabcmd).ignore();
  p.reg.set(prt_descricao, "File a parmegiana");
  p.form.write(grupo::itecmd).ignore();
  p.reg.set(prt_obs, "sem cebola");
  p.form.write(grupo::obsite).ignore();
  p.reg.set(prt_descricao, record::cp1252("Porção de fritas"));
  p.form.write(grupo::itecmd).ignore();
  p.form.write(grupo::traco).ignore();
  p.form.write(grupo::orbela).ignore();
  p.form.close().ignore();

  EXPECT_EQ(p.ticket(), record::cp1252(
                            "================================================\n"
                            "              *** COMANDA 0012 ***\n"
                            "                27/11/2019 14:38\n"
                            "================================================\n"
                            "Impressora: COZINHA\n"
                            "Mesa 7\n"
                            "Varanda                     Pessoas :03\n"
                            "File a parmegiana\n"
                            "    Obs.: sem cebola\n"
                            "Porção de fritas\n"
                            "------------------------------------------------\n"
                            "      KavComanda - Orbela Teknovarium Ltda\n"));
  EXPECT_EQ(p.outlet->handed.back().job.printer, "COZINHA");
  // The print form names a continuous form: the roll, in Courier New.
  EXPECT_TRUE(p.outlet->handed.back().job.page.continuous);
  EXPECT_EQ(p.outlet->handed.back().job.page.font_face, "Courier New");
}

TEST(Tickets, CancellationTicketLeavesOutBlankHeaderLines) {
  Printing p;
  p.form.proc_cfgimp(std::string(20, ' '));
  p.form.open().ignore();
  p.reg.set(prt_numcmd, "0012");
  p.reg.set(prt_texto, "");
  p.reg.set(prt_pessoas, "");
  p.reg.set(prt_compl, "");
  p.reg.set(prt_impressora, "");
  p.form.write(grupo::cabec).ignore();
  p.form.write(grupo::cabcmd).ignore();
  p.reg.set(prt_descricao, "Chopp 300ml");
  p.form.write(grupo::itecmd).ignore();
  p.form.write(grupo::traco).ignore();
  p.form.write(grupo::canc).ignore();
  p.form.write(grupo::traco).ignore();
  p.form.write(grupo::orbela).ignore();
  p.form.close().ignore();

  // No printer: nothing is handed to the spooler; the ticket stays marked.
  EXPECT_TRUE(p.outlet->handed.empty());
  const std::string kept =
      p.files.contents("C:\\OrbelaTeknovarium\\Spool\\%20\\20191127-14380500-000001-NAO-ENTREGUE.txt");
  std::string expected =
      "================================================\n"
      "              *** COMANDA 0012 ***\n"
      "                27/11/2019 14:38\n"
      "================================================\n"
      "Chopp 300ml\n"
      "------------------------------------------------\n"
      "************************************************\n"
      "***       I T E M   C A N C E L A D O        ***\n"
      "************************************************\n"
      "------------------------------------------------\n"
      "      KavComanda - Orbela Teknovarium Ltda\n";
  if (platform::kLineEnd != "\n") {
    for (std::size_t p2 = 0; (p2 = expected.find('\n', p2)) != std::string::npos; p2 += 2) expected.insert(p2, "\r");
  }
  EXPECT_EQ(kept, expected);
  ASSERT_EQ(p.reports.size(), 1U);
  EXPECT_EQ(p.reports[0], record::cp1252("Não impresso, sem impressora: 20191127-14380500-000001-NAO-ENTREGUE.txt !!!"));
}

TEST(Tickets, BillAlignsValuesOnTheRightAndIsDatedWhenItsJobOpens) {
  Printing p;
  p.form.proc_cfgimp(record::padded("CAIXA", 20));
  p.clock.advance_ms(((9 * 60 + 21) * 60 + 55) * 1000);  // 28/11/2019 00:00:00
  p.form.open().ignore();
  p.clock.advance_ms(2 * 60 * 1000);  // the groups are written later: the date stands
  p.reg.set(prt_numcmd, "0012");
  p.reg.set(prt_texto, "Mesa 7");
  p.form.move_pessoas("03");
  p.reg.set(prt_compl, "");
  p.reg.set(prt_impressora, "");
  p.form.write(grupo::cabec).ignore();
  p.form.write(grupo::cabcmd).ignore();
  p.reg.set(prt_descricao, "Picanha");
  p.form.write(grupo::itecmd).ignore();
  p.reg.set(prt_codigo, "000101");
  p.reg.set(prt_quantidade, edit_zzz_zz9(2) + "    ");
  p.reg.set(prt_valor, edit_z_zzz_zz9_99(1250));
  p.reg.set(prt_total, edit_z_zzz_zz9_99(2500));
  p.form.write(grupo::valcmd).ignore();
  p.form.write(grupo::traco).ignore();
  p.reg.set(prt_linha_tot, record::padded("Total de Produtos", 18) + edit_z_zzz_zz9_99(2500) + " ");
  p.form.write(grupo::subtot).ignore();
  p.reg.set(prt_linha_tot, record::padded(record::cp1252("Serviço 10%"), 18) + edit_z_zzz_zz9_99(250) + " ");
  p.form.write(grupo::subtot).ignore();
  p.form.write(grupo::traco).ignore();
  p.form.write(grupo::orbela).ignore();
  p.form.close().ignore();

  EXPECT_EQ(p.ticket(), record::cp1252(
                            "================================================\n"
                            "              *** COMANDA 0012 ***\n"
                            "                28/11/2019 00:00\n"
                            "================================================\n"
                            "Mesa 7\n"
                            "                            Pessoas :03\n"
                            "Picanha\n"
                            "  000101       2             12,50         25,00\n"
                            "------------------------------------------------\n"
                            "                  Total de Produtos        25,00\n"
                            "                  Serviço 10%               2,50\n"
                            "------------------------------------------------\n"
                            "      KavComanda - Orbela Teknovarium Ltda\n"));
}

TEST(Tickets, NoLineIsWiderThanTheTicketAndFieldsCannotBreakLines) {
  std::string rec(296, 'W');
  rec[120] = '\n';
  rec[121] = '\r';
  for (std::string_view group : {"CABEC", "CABCMD", "ITECMD", "OBSITE", "VALCMD", "SUBTOT", "TRACO", "CANC", "ORBELA"}) {
    const auto lines = render_fcomanda(group, rec, "20191231-23595999");
    ASSERT_TRUE(lines.has_value()) << group;
    for (const auto& line : *lines) {
      EXPECT_LE(line.size(), kTicketWidth) << group << ": " << line;
      EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << group;
    }
  }
  EXPECT_FALSE(render_fcomanda("NOPE", rec).has_value());
  EXPECT_TRUE(render_fcomanda("TRACO   ", "").has_value());  // a short record reads as blanks
}

TEST(Tickets, TheDateLineIsLeftOutWithoutAValidMoment) {
  const std::string rec(296, ' ');
  EXPECT_EQ(render_fcomanda("CABEC", rec, "20191231-23595999")->at(2), "                31/12/2019 23:59");
  for (std::string_view none : {"", "20191232-10000000", "2019123-110000000", "garbage"}) {
    const auto lines = render_fcomanda("CABEC", rec, none);
    ASSERT_EQ(lines->size(), 3U) << none;  // rule, number, rule
    EXPECT_EQ(lines->at(2), std::string(kTicketWidth, '='));
  }
}

// A ticket already kept is not made again when its work is done over later:
// the kept file keeps the time it was made, and the spooler gets it once.
TEST(Tickets, AWorkDoneOverLaterKeepsTheTicketAndItsTime) {
  Printing p;
  const std::string id = p.service.new_work_id();
  auto one_ticket = [&] {
    p.service.begin_work(id);
    p.form.proc_cfgimp(record::padded("COZINHA", 20));
    p.form.open().ignore();
    p.reg.set(prt_numcmd, "0012");
    p.form.write(grupo::cabec).ignore();
    p.form.write(grupo::orbela).ignore();
    p.form.close().ignore();
    return p.service.end_work();
  };
  ASSERT_TRUE(one_ticket());
  const std::string path = "C:\\OrbelaTeknovarium\\Spool\\COZINHA\\20191127-14380500-000001-NAO-ENTREGUE.txt";
  const std::string made = p.files.contents(path);
  EXPECT_NE(made.find("27/11/2019 14:38"), std::string::npos);
  p.clock.advance_ms(3 * 60 * 1000);
  ASSERT_TRUE(one_ticket());
  EXPECT_EQ(p.files.contents(path), made);
  EXPECT_EQ(p.outlet->handed.size(), 1U);
}

}  // namespace
}  // namespace kav::orders
