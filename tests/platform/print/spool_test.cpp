// The spool folder's names and marks, and the reading of the printer
// information file.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/print/printer_info.h"
#include "platform/print/spool.h"

namespace kav::platform::print {
namespace {

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

TEST(SpoolNames, StampsAndFolderNamesGoBothWays) {
  EXPECT_EQ(next_stamp("20191231-23595999"), "20200101-00000000");
  EXPECT_EQ(next_stamp("20200228-10000099"), "20200228-10000100");
  EXPECT_FALSE(stamp_centis("20191127-2538"));
  EXPECT_FALSE(stamp_centis("20191332-10000000"));
  EXPECT_EQ(*stamp_centis("20191127-14400000") - *stamp_centis("20191127-14380500"), 11'500);
  for (std::string_view name : {"COZINHA", "A/B\\C:D", "50%", " BAR", "CON", ""}) {
    EXPECT_EQ(printer_of_folder(spool_folder_name(name)), name);
  }
  EXPECT_EQ(classify_spool_file("X-NAO-ENTREGUE.TXT").kind, SpoolEntry::Kind::undelivered);
  EXPECT_EQ(classify_spool_file("X.txt").base, "X");
  EXPECT_EQ(classify_spool_file("X.tmp").kind, SpoolEntry::Kind::unfinished);
}

TEST(SpoolNames, WorkStampsAreTheClocksOwnAndNeverGivenTwice) {
  StampSequence stamps;
  EXPECT_EQ(stamps.next("20191127-14380500"), "20191127-14380500");
  EXPECT_EQ(stamps.next("20191127-14380500"), "20191127-14380501");  // twice in one hundredth
  EXPECT_EQ(stamps.next("20191127-14380500"), "20191127-14380502");
  stamps.note("20191127-14380600-000003");                             // a ticket in the spool
  EXPECT_EQ(stamps.next("20191127-14380600"), "20191127-14380601");
  // A clock that was a day ahead, set right: stamps of the real day again,
  // passing over those in use.
  EXPECT_EQ(stamps.next("20191128-14400000"), "20191128-14400000");
  EXPECT_EQ(stamps.next("20191127-14380501"), "20191127-14380503");
  EXPECT_EQ(stamps.next("20191127-14390000"), "20191127-14390000");
  EXPECT_EQ(stamps.last(), "20191128-14400000");
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
