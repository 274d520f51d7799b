// The print service's spool folder, its names and marks, and the reading of
// the printer information file.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/file_status.h"
#include "platform/line_end.h"
#include "platform/print/printer_info.h"
#include "platform/print/spool.h"
#include "platform/print/spooling_print_service.h"
#include "print_fakes.h"
#include "record/cp1252.h"

namespace kav::platform::print {
namespace {

constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";

std::string info_for(std::string_view printer) {
  return "* Orbela Teknovarium Ltda - Comanda\nPRTID        \"Impress\xe3o de Comanda\"\nPRTDRV       \"" +
         std::string(printer) + "\"\nFORMSIZE      A4\n";
}

struct Service {
  MemoryFileSystem files;
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeOutlet* outlet = new test::FakeOutlet;
  std::vector<std::string> reports;
  test::FakeLayout layout;
  SpoolingPrintService service{files, clock, layout, std::unique_ptr<PrinterOutlet>(outlet),
                               [this](std::string_view t) { reports.emplace_back(t); }};

  // One job of one TRACO line for `printer`; returns the status of close.
  std::string print(std::string_view printer) {
    files.put(kInfo, info_for(printer));
    service.open("FCOMANDA", kInfo);
    service.write("TRACO   ", std::string(296, ' '));
    return service.close();
  }
};

TEST(SpoolNames, FolderNamesAreSafeAndDistinct) {
  EXPECT_EQ(spool_folder_name("COZINHA"), "COZINHA");
  EXPECT_EQ(spool_folder_name("Cozinha 2           "), "Cozinha 2");
  EXPECT_EQ(spool_folder_name(std::string(20, ' ')), "%20");
  EXPECT_EQ(spool_folder_name(""), "%20");
  EXPECT_EQ(spool_folder_name("A/B\\C:D*E?F\"G<H>I|J"), "A%2FB%5CC%3AD%2AE%3FF%22G%3CH%3EI%7CJ");
  EXPECT_EQ(spool_folder_name("A_B"), "A_B");
  EXPECT_EQ(spool_folder_name("50%"), "50%25");
  EXPECT_EQ(spool_folder_name(" BAR"), "%20BAR");
  EXPECT_EQ(spool_folder_name("BAR."), "BAR%2E");
  EXPECT_EQ(spool_folder_name("..."), "..%2E");
  EXPECT_EQ(spool_folder_name("CON"), "%43ON");
  EXPECT_EQ(spool_folder_name("lpt1"), "%6Cpt1");
  EXPECT_EQ(spool_folder_name("nul.txt"), "%6Eul.txt");
  EXPECT_EQ(spool_folder_name("COM10"), "COM10");
  EXPECT_EQ(spool_folder_name("CONSOLE"), "CONSOLE");
  EXPECT_EQ(spool_folder_name("A\tB\x7f"), "A%09B%7F");
  EXPECT_EQ(spool_folder_name("C\xe7OPA"), "C\xe7OPA");  // Windows-1252 letters are fine
}

TEST(SpoolNames, TicketNamesSortByDateTimeAndSequence) {
  EXPECT_EQ(ticket_base_name("20191127", "14380512", 7), "20191127-14380512-000007");
  EXPECT_EQ(ticket_base_name("20191127", "14380512", 1'234'567), "20191127-14380512-234567");
}

TEST(SpoolService, TicketsOfOnePrinterSortInPrintingOrderEvenWhenTheClockGoesBack) {
  Service s;
  s.print("BAR");
  s.print("BAR");  // same hundredth
  s.clock.advance_ms(-60'000);
  s.print("BAR");
  s.clock.advance_ms(24 * 3'600'000);
  s.print("BAR");
  ASSERT_EQ(s.outlet->handed.size(), 4U);
  std::vector<std::string> names;
  for (const auto& h : s.outlet->handed) names.push_back(h.job.title);
  EXPECT_EQ(names[0], "20191127-14380500-000001");
  EXPECT_EQ(names[1], "20191127-14380500-000002");
  EXPECT_EQ(names[2], "20191127-14380500-000003");  // not earlier than the ticket before it
  EXPECT_EQ(names[3], "20191128-14370500-000004");
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  for (const auto& n : names) EXPECT_TRUE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\BAR\\" + n + ".txt")) << n;
  EXPECT_TRUE(s.reports.empty());
}

TEST(SpoolService, AnExistingTicketIsNeverOverwritten) {
  Service s;
  s.files.create_directory("C:\\OrbelaTeknovarium\\Spool");
  s.files.create_directory("C:\\OrbelaTeknovarium\\Spool\\BAR");
  s.files.put("C:\\OrbelaTeknovarium\\Spool\\BAR\\20191127-14380500-000001-NAO-ENTREGUE.txt", "old");
  s.print("BAR");
  EXPECT_EQ(s.files.contents("C:\\OrbelaTeknovarium\\Spool\\BAR\\20191127-14380500-000001-NAO-ENTREGUE.txt"), "old");
  EXPECT_TRUE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\BAR\\20191127-14380500-000002.txt"));
}

TEST(SpoolService, ATicketThePrinterDidNotTakeStaysMarkedAndIsReported) {
  struct Case {
    Outcome outcome;
    std::string_view words;
  };
  for (const Case c : {Case{Outcome::unknown_printer, "inexistente"}, Case{Outcome::refused, "recusado"},
                       Case{Outcome::aborted, "abortado"}, Case{Outcome::stopped, "parado"},
                       Case{Outcome::failed, "falha de envio"}}) {
    Service s;
    s.outlet->outcome = c.outcome;
    EXPECT_EQ(s.print("COZINHA"), "00");  // the ticket is kept
    const std::string name = "20191127-14380500-000001-NAO-ENTREGUE.txt";
    EXPECT_TRUE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\COZINHA\\" + name));
    EXPECT_FALSE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\COZINHA\\20191127-14380500-000001.txt"));
    ASSERT_EQ(s.reports.size(), 1U);
    EXPECT_EQ(s.reports[0],
              record::cp1252("Não impresso em COZINHA (") + std::string(c.words) + "): " + name + " !!!");
    EXPECT_LE(s.reports[0].size(), 106U);
  }
  // A stopped job and a job the queue still holds are told apart.
  Service s;
  s.outlet->outcome = Outcome::accepted;
  s.print("COZINHA");
  EXPECT_TRUE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\COZINHA\\20191127-14380500-000001.txt"));
  EXPECT_TRUE(s.reports.empty());
}

TEST(SpoolService, TheLongestReportFitsTheLogLine) {
  Service s;
  s.outlet->outcome = Outcome::failed;
  s.print("ABCDEFGHIJKLMNOPQRST");
  ASSERT_EQ(s.reports.size(), 1U);
  EXPECT_LE(s.reports[0].size(), 106U);
}

TEST(SpoolService, TheTicketIsKeptAsWindows1252TextAndHandedOverWithItsSettings) {
  Service s;
  s.files.put(kInfo, info_for("COPA 1 "));  // a 19-character name and a blank would keep the blank
  s.service.open("FCOMANDA", kInfo);
  std::string rec(296, ' ');
  rec.replace(109, 16, record::cp1252("Porção de fritas"));
  s.service.write("ITECMD  ", rec);
  s.service.close();
  ASSERT_EQ(s.outlet->handed.size(), 1U);
  EXPECT_EQ(s.outlet->handed[0].job.printer, "COPA 1");  // trailing blanks are no part of the name
  EXPECT_EQ(s.outlet->handed[0].job.form_size, "A4");
  const std::string kept = s.files.contents("C:\\OrbelaTeknovarium\\Spool\\COPA 1\\20191127-14380500-000001.txt");
  EXPECT_EQ(kept, "Por\xe7\xe3o de fritas" + std::string(kLineEnd));
  EXPECT_EQ(kept, s.outlet->handed[0].ticket);
  EXPECT_EQ(s.service.last_ticket(), "C:\\OrbelaTeknovarium\\Spool\\COPA 1\\20191127-14380500-000001.txt");
}

TEST(SpoolService, ASpoolThatCannotBeWrittenStillPrintsAndSaysSo) {
  Service s;
  s.files.put(kInfo, info_for("BAR"));
  s.service.open("FCOMANDA", kInfo);
  s.service.write("TRACO", "");
  s.files.set_fail_writes(true);
  EXPECT_EQ(s.service.close(), "30");
  EXPECT_EQ(s.outlet->handed.size(), 1U);
  ASSERT_EQ(s.reports.size(), 1U);
  EXPECT_EQ(s.reports[0], "Falha ao gravar Spool de BAR !!!");
  s.files.set_fail_writes(false);
  EXPECT_FALSE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\BAR\\20191127-14380500-000001.tmp"));
}

TEST(SpoolService, StatusesOfTheThreeOperations) {
  Service s;
  EXPECT_EQ(s.service.write("TRACO", ""), "48");
  EXPECT_EQ(s.service.close(), "42");
  EXPECT_EQ(s.service.open("OUTRA", kInfo), "39");
  EXPECT_EQ(s.service.write("TRACO", ""), "48");
  // No printer information file: the job opens for no printer, and its
  // ticket is kept and reported.
  EXPECT_EQ(s.service.open("FCOMANDA", kInfo), "35");
  EXPECT_EQ(s.service.write("NADA    ", ""), "23");
  EXPECT_EQ(s.service.write("ORBELA  ", ""), "00");
  EXPECT_EQ(s.service.close(), "00");
  EXPECT_TRUE(s.outlet->handed.empty());
  EXPECT_TRUE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\%20\\20191127-14380500-000001-NAO-ENTREGUE.txt"));
  EXPECT_EQ(s.reports.size(), 1U);
}

TEST(SpoolService, AJobOpenedAgainBeforeItsCloseIsStillATicket) {
  Service s;
  s.files.put(kInfo, info_for("BAR"));
  s.service.open("FCOMANDA", kInfo);
  s.service.write("TRACO", "");
  s.service.open("FCOMANDA", kInfo);
  s.service.close();
  EXPECT_EQ(s.outlet->handed.size(), 2U);
}

TEST(PrinterInfo, ReadsTheSettingsAndPassesOverTheRest) {
  const PrinterSettings s = parse_printer_info(
      "* comment PRTDRV \"NO\"\r\n"
      "\r\n"
      "PRTID        \"Impress\xe3o de Comanda\"                      \r\n"
      "UNKNOWN      \"X\"\r\n"
      "PRTDRV       \"COPA 1 \"                                       \r\n"
      "prtform      \"PO\"\r\n"
      "FORMKIND      C   \r\n"
      "FORMSIZE      A4\r\n"
      "PRTDIALOG     N\r\n"
      "PREVIEW       1\r\n"
      "FONTFACE     \"Courier New");
  EXPECT_EQ(s.id, "Impress\xe3o de Comanda");
  EXPECT_EQ(s.printer, "COPA 1 ");
  EXPECT_EQ(s.form, "PO");
  EXPECT_EQ(s.form_kind, "C");
  EXPECT_EQ(s.form_size, "A4");
  EXPECT_EQ(s.dialog, "N");
  EXPECT_EQ(s.preview, "1");
  EXPECT_EQ(s.font_face, "Courier New");  // a missing closing quote takes the rest
  EXPECT_EQ(parse_printer_info("PRTDRV       \"\"").printer, "");
}

}  // namespace
}  // namespace kav::platform::print
