// The page and font of a ticket from the printer information file, and what
// CUPS's text filter and the Windows driver are asked for.
#include "platform/print/page_setup.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/print/printer_info.h"

namespace kav::platform::print {
namespace {

std::map<std::string, std::string> options_of(const PageSetup& page) {
  std::map<std::string, std::string> m;
  for (const auto& [name, value] : cups_text_options(page)) {
    EXPECT_TRUE(m.emplace(name, value).second) << "option given twice: " << name;
  }
  return m;
}

PageSetup page_of(std::string_view file) { return page_setup(parse_printer_info(file)); }

TEST(PrinterInfoFont, TheSizeStandsAfterTheFaceOrOnALineOfItsOwn) {
  EXPECT_EQ(parse_printer_info("FONTFACE     \"Courier New\"").font_size, 0);
  const PrinterSettings after = parse_printer_info("FONTFACE     \"Lucida Console\" 9   \r\n");
  EXPECT_EQ(after.font_face, "Lucida Console");
  EXPECT_EQ(after.font_size, 9);
  // FONTSIZE, before or after the face; the last size named counts.
  EXPECT_EQ(parse_printer_info("FONTSIZE 8,5\nFONTFACE \"Courier New\"\n").font_size, 8.5);
  EXPECT_EQ(parse_printer_info("FONTFACE \"Courier New\" 9\nfontsize     10.5\n").font_size, 10.5);
  // A face without a closing quote takes the rest of the line, digits too.
  const PrinterSettings open_quote = parse_printer_info("FONTFACE \"Courier New 9");
  EXPECT_EQ(open_quote.font_face, "Courier New 9");
  EXPECT_EQ(open_quote.font_size, 0);
}

TEST(PrinterInfoFont, SizesThatAreNotSizesNameNone) {
  for (std::string_view bad : {"", "0", "3,9", "72,5", "100", "9pt", "-9", "8,,5", "1,2,3", "9 9", "123456789"}) {
    EXPECT_EQ(parse_font_size(bad), 0) << bad;
  }
  EXPECT_EQ(parse_font_size(" 4 "), 4);
  EXPECT_EQ(parse_font_size("72"), 72);
  EXPECT_EQ(parse_font_size("7."), 7);
  EXPECT_EQ(parse_font_size(",5"), 0);
  // A bad size after the face leaves the face and names no size.
  const PrinterSettings s = parse_printer_info("FONTSIZE 9\nFONTFACE \"Courier New\" grande\n");
  EXPECT_EQ(s.font_face, "Courier New");
  EXPECT_EQ(s.font_size, 9);
}

TEST(PageSetup, TheContinuousFormIsTheRollAnythingElseSheets) {
  const PageSetup roll = page_of("FORMKIND      c  \nFORMSIZE      A4\nFONTFACE     \"Courier New\"\n");
  EXPECT_TRUE(roll.continuous);
  EXPECT_EQ(roll.form_size, "");  // FORMSIZE is no part of a roll
  EXPECT_EQ(roll.font_face, "Courier New");

  const PageSetup sheets = page_of("FORMKIND      F\nFORMSIZE      a4 \n");
  EXPECT_FALSE(sheets.continuous);
  EXPECT_EQ(sheets.form_size, "a4");
  EXPECT_FALSE(page_of("FORMSIZE A4\n").continuous);  // no FORMKIND at all
  EXPECT_FALSE(page_of("FORMKIND CC\n").continuous);
  EXPECT_TRUE(PageSetup{}.continuous);  // a ticket whose settings are not known
}

TEST(PageSetup, TheFontNamedOrTheDefaultThatFitsThePaper) {
  PageSetup page;
  EXPECT_EQ(ticket_font(page).face, "Courier New");
  EXPECT_EQ(ticket_font(page).points, kRollFontPoints);
  page.continuous = false;
  EXPECT_EQ(ticket_font(page).points, kSheetFontPoints);
  page.font_face = "Lucida Console";
  page.font_size = 9;
  EXPECT_EQ(ticket_font(page).face, "Lucida Console");
  EXPECT_EQ(ticket_font(page).points, 9);
  // 48 columns of the roll's default font fit the 72 mm an 80 mm roll prints.
  EXPECT_LE(48 * 0.6 * kRollFontPoints / 72 * 25.4, 72.0);
}

TEST(CupsOptions, ARollAsksForNoMediaAndSheetsForTheirSize) {
  auto roll = options_of(page_of("FORMKIND      C\nFORMSIZE      A4\nFONTFACE     \"Courier New\"\n"));
  EXPECT_FALSE(roll.contains("media"));
  EXPECT_EQ(roll["cpi"], "17.14");
  EXPECT_EQ(roll["lpi"], "10.29");
  for (const char* side : {"page-left", "page-right", "page-top", "page-bottom"}) EXPECT_EQ(roll[side], "11.34");

  auto a4 = options_of(page_of("FORMKIND      F\nFORMSIZE      A4\n"));
  EXPECT_EQ(a4["media"], "A4");
  EXPECT_EQ(a4["cpi"], "10");  // the text filter's own pitch, as before
  EXPECT_EQ(a4["lpi"], "6");
  EXPECT_FALSE(a4.contains("page-left"));

  auto own_paper = options_of(page_of("FORMKIND      F\n"));
  EXPECT_FALSE(own_paper.contains("media"));

  // A size named sets the pitch on either form.
  auto nine = options_of(page_of("FORMKIND C\nFONTFACE \"Courier New\" 9\n"));
  EXPECT_EQ(nine["cpi"], "13.33");
  EXPECT_EQ(nine["lpi"], "8");
}

TEST(WindowsPaper, TheRollKeepsThePrintersPaperSheetsAskForTheirs) {
  EXPECT_EQ(windows_paper(page_of("FORMKIND C\nFORMSIZE A4\n")), 0);
  EXPECT_EQ(windows_paper(page_of("FORMKIND F\nFORMSIZE A4\n")), 9);
  EXPECT_EQ(windows_paper(page_of("FORMKIND F\nFORMSIZE letter\n")), 1);
  EXPECT_EQ(windows_paper(page_of("FORMKIND F\nFORMSIZE B5\n")), 0);  // not known: the printer's own
  EXPECT_EQ(windows_paper(page_of("FORMKIND F\n")), 0);
}

}  // namespace
}  // namespace kav::platform::print
