// A driver printer whose default paper is a sheet: named once a run in the
// log and on its test page; rolls and ESC/POS printers are left alone.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/print/print_fakes.h"
#include "printing/profiled_outlet.h"
#include "printing/sheet_watch.h"
#include "printing/spooling_print_service.h"
#include "printing/test_page.h"
#include "record/cp1252.h"
#include "settings/kav_settings.h"

namespace kav::printing {
namespace {

using namespace platform;
using namespace platform::print;

constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";

TEST(SheetWatch, SheetsAreTheWideOrTheNamedOnes) {
  EXPECT_TRUE(is_sheet({"iso_a4_210x297mm", 2100, 2970}));
  EXPECT_TRUE(is_sheet({"", 2159, 2794}));     // Letter, by size alone
  EXPECT_TRUE(is_sheet({"", 1480, 2100}));     // A5
  EXPECT_TRUE(is_sheet({"Letter", 0, 0}));     // no size: by name
  EXPECT_TRUE(is_sheet({"na_legal_8.5x14in", 0, 0}));
  EXPECT_FALSE(is_sheet({"om_80x297mm", 800, 2970}));  // a roll with a page length is still a roll
  EXPECT_FALSE(is_sheet({"", 580, 0}));
  EXPECT_FALSE(is_sheet({"", 1120, 3276}));  // the widest roll
  EXPECT_FALSE(is_sheet({"Roll Paper 80", 0, 0}));
  EXPECT_FALSE(is_sheet({}));

  EXPECT_EQ(paper_label({"whatever", 2098, 2972}), "A4");
  EXPECT_EQ(paper_label({"", 2159, 2794}), "Letter");
  EXPECT_EQ(paper_label({"", 1760, 2500}), "176 x 250 mm");
  EXPECT_EQ(paper_label({"Folha grande demais", 0, 0}), "Folha grande");
}

// The log names a printer once with its paper and what to set, each line
// within the 106 characters of a log line even with a 20-character name.
TEST(SheetWatch, LinesFitTheLogAndThePage) {
  const Paper folio{"", 2100, 3300};
  for (const auto& line : sheet_log_lines(std::string(20, 'X'), folio)) EXPECT_LE(line.size(), 106U) << line;
  for (const auto& line : sheet_page_lines(folio)) EXPECT_LE(line.size(), 48U) << line;
  const auto lines = sheet_log_lines("COZINHA", {"iso_a4_210x297mm", 2100, 2970});
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0], record::cp1252("Impressora COZINHA: o driver usa papel A4; cada ticket ocupará uma folha inteira"));
  EXPECT_NE(lines[1].find("modo = escpos"), std::string::npos);
}

struct Watched {
  explicit Watched(std::string_view ini) {
    auto* asker = new test::FakeOutlet;
    paper_outlet = asker;
    asker->papers["BAR"] = Paper{"iso_a4_210x297mm", 2100, 2970};
    asker->papers["COZINHA"] = Paper{"iso_a4_210x297mm", 2100, 2970};
    asker->papers["CAIXA"] = Paper{"om_80x200mm", 800, 2000};
    SpoolOptions options;
    options.conditions = std::make_shared<PrinterConditions>();
    options.profiles = PrinterProfiles(settings::parse_settings(ini, settings::kav_schema()));
    options.sheets = std::make_shared<SheetWatch>(std::unique_ptr<PrinterOutlet>(asker), options.conditions);
    service = std::make_unique<SpoolingPrintService>(
        files, clock, layout,
        std::make_unique<ProfiledOutlet>(std::unique_ptr<PrinterOutlet>(outlet), options.profiles, layout,
                                         options.conditions, NetLimits{}, options.sheets),
        [this](std::string_view t) { reports.emplace_back(t); }, nullptr, options);
  }

  void print(std::string_view printer, std::string_view form = "FORMKIND      C\n") {
    files.put(kInfo, "PRTDRV       \"" + std::string(printer) + "\"\n" + std::string(form));
    EXPECT_TRUE(service->open("FCOMANDA", kInfo).ok());
    EXPECT_TRUE(service->write("ITECMD", "Feijao").ok());
    EXPECT_TRUE(service->close().ok());
  }

  int said(std::string_view what) const {
    return static_cast<int>(std::count_if(reports.begin(), reports.end(),
                                          [&](const std::string& r) { return r.find(what) != std::string::npos; }));
  }

  MemoryFileSystem files;
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeLayout layout;
  std::vector<std::string> reports;
  test::FakeOutlet* outlet = new test::FakeOutlet;
  test::FakeOutlet* paper_outlet = nullptr;
  std::unique_ptr<SpoolingPrintService> service;
};

TEST(SheetWatch, ADriverOnASheetIsNamedOnceARun) {
  Watched w("[impressora COZINHA]\nmodo = escpos\n");
  w.print("BAR");
  w.print("bar ");  // the same printer, as the spooler names it
  w.print("CAIXA");
  w.print("COZINHA");  // ESC/POS: its paper does not matter
  w.print("BAR", "FORMKIND      F\nFORMSIZE      A4\n");
  w.service->follow_up();
  EXPECT_EQ(w.said("Impressora BAR: o driver usa papel A4"), 1);
  EXPECT_EQ(w.said("Impressora BAR: escolha no driver um papel de rolo"), 1);
  EXPECT_EQ(w.said("CAIXA: o driver"), 0);
  EXPECT_EQ(w.said("COZINHA: o driver"), 0);
  EXPECT_EQ(w.paper_outlet->papers_asked, 2);  // BAR and CAIXA, once each
  EXPECT_EQ(w.outlet->handed.size(), 5U);      // and every ticket printed all the same
}

TEST(SheetWatch, TheTestPageOfADriverOnASheetSaysSo) {
  Watched w("");
  EXPECT_TRUE(w.service->test_page("BAR").ok());
  EXPECT_TRUE(w.service->test_page("CAIXA").ok());
  w.service->wait_for_hand_overs();
  ASSERT_EQ(w.outlet->handed.size(), 2U);
  const std::string warning = record::cp1252("ATENÇÃO: papel padrão do driver: A4");
  EXPECT_NE(w.outlet->handed[0].ticket.find(warning), std::string::npos);
  EXPECT_NE(w.outlet->handed[0].ticket.find("modo = escpos"), std::string::npos);
  EXPECT_EQ(w.outlet->handed[1].ticket.find(record::cp1252("ATENÇÃO")), std::string::npos);
  w.service->follow_up();
  EXPECT_EQ(w.said("Impressora BAR: o driver usa papel A4"), 1);
}

}  // namespace
}  // namespace kav::printing
