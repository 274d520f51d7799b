// Printing by profile: ESC/POS through the spooler as a raw job, and the
// choice of the order number's line.
#include <gtest/gtest.h>

#include "board/alerts.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/print/print_fakes.h"
#include "printing/profiled_outlet.h"
#include "printing/spooling_print_service.h"
#include "printing/test_page.h"
#include "settings/kav_settings.h"

namespace kav::printing {
namespace {

using namespace platform;
using namespace platform::print;
using namespace std::string_literals;

constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";

PrinterProfiles profiles(std::string_view ini) {
  return PrinterProfiles(settings::parse_settings(ini, settings::kav_schema()));
}

struct Service {
  explicit Service(std::string_view ini)
      : outlet(new test::FakeOutlet),
        service(files, clock, layout,
                std::make_unique<ProfiledOutlet>(std::unique_ptr<PrinterOutlet>(outlet), profiles(ini), layout,
                                                 nullptr),
                [this](std::string_view t) { reports.emplace_back(t); }, &board) {}

  platform::Status print(std::string_view printer, std::string_view text) {
    files.put(kInfo, "PRTDRV       \"" + std::string(printer) + "\"\nFORMKIND      C\n");
    EXPECT_TRUE(service.open("FCOMANDA", kInfo).ok());
    EXPECT_TRUE(service.write("ITECMD", std::string(text)).ok());
    return service.close();
  }

  MemoryFileSystem files;
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeLayout layout;
  log::Alerts board;
  std::vector<std::string> reports;
  test::FakeOutlet* outlet;
  SpoolingPrintService service;
};

TEST(ProfiledPrinting, WithoutAProfileTheDriverGetsTheTextAsBefore) {
  Service s("");
  EXPECT_TRUE(s.print("BAR", "Feij\xE3o").ok());
  ASSERT_EQ(s.outlet->handed.size(), 1U);
  EXPECT_EQ(s.outlet->raw_submits, 0);
  EXPECT_EQ(s.outlet->handed[0].ticket.substr(0, 6), "Feij\xE3o");
}

// An escpos printer's ticket is one raw job of ESC/POS bytes, followed as
// any job: marked until the spooler has finished it.
TEST(ProfiledPrinting, EscPosGoesRawAndIsTrackedAsAnyJob) {
  Service s("[impressora BAR]\nmodo = escpos\ncorte = total\navanco = 3\naviso_sonoro = bel\n");
  EXPECT_TRUE(s.print("BAR", "Feij\xE3o").ok());
  ASSERT_EQ(s.outlet->raw_submits, 1);
  const std::string& bytes = s.outlet->handed.at(0).ticket;
  EXPECT_EQ(bytes, "\x1B\x40\x1B\x74\x03" "Feij\x84o\n\x1B\x64\x03\x1D\x56\x00\x07"s);
  const std::string folder = "C:\\OrbelaTeknovarium\\Spool\\BAR\\";
  const std::string base = s.outlet->handed[0].job.title.substr(0, 24);
  EXPECT_TRUE(s.files.exists(folder + base + "-NAO-ENTREGUE.txt"));
  s.outlet->finish_all();
  s.service.follow_up();
  s.service.follow_up();
  EXPECT_TRUE(s.files.exists(folder + base + ".txt"));
  // The ticket kept in the spool is still the text: a reprint lays it out again.
  std::string kept;
  ASSERT_TRUE(read_ticket(s.files, folder + base + ".txt", kept));
  EXPECT_EQ(kept.substr(0, 6), "Feij\xE3o");
}

// The test page: for an ESC/POS printer, the sample line once in each code
// page, each after its ESC t; for a driver printer, text. Not kept.
TEST(ProfiledPrinting, TestPageThroughTheWorker) {
  MemoryFileSystem files;
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeLayout layout;
  auto* outlet = new test::FakeOutlet;
  SpoolOptions options;
  options.profiles = profiles("[impressora BAR]\nmodo = escpos\npagina_codigo = cp850\n");
  SpoolingPrintService service(files, clock, layout,
                               std::make_unique<ProfiledOutlet>(std::unique_ptr<PrinterOutlet>(outlet),
                                                                options.profiles, layout, nullptr),
                               nullptr, nullptr, options);
  EXPECT_TRUE(service.test_page("BAR").ok());
  service.wait_for_hand_overs();
  ASSERT_EQ(outlet->raw_submits, 1);
  const std::string& page = outlet->handed.at(0).ticket;
  for (const CodePage c : kCodePages) {
    const std::string line = escpos::code_page(c) + escpos::text_line(std::string(code_page_name(c)) + ":", c, 48) +
                             escpos::text_line(test_page_sample(), c, 48);
    EXPECT_NE(page.find(line), std::string::npos) << code_page_name(c);
  }
  EXPECT_NE(page.find("pagina_codigo = cp850"), std::string::npos);
  EXPECT_TRUE(page.ends_with(escpos::feed(4) + escpos::cut(Cut::partial)));
  EXPECT_TRUE(service.test_page("CAIXA").ok());
  service.wait_for_hand_overs();
  EXPECT_EQ(outlet->raw_submits, 1);
  EXPECT_NE(outlet->handed.at(1).ticket.find("modo = driver"), std::string::npos);
  EXPECT_TRUE(files.list("C:\\OrbelaTeknovarium\\Spool", true).empty());
}

TEST(ProfiledPrinting, TheNumberLineOfARealTicket) {
  const auto& layout = orders::fcomanda_layout();
  const std::string ticket = "==========\n              *** COMANDA 0012 ***\n  0012 items\n";
  EXPECT_EQ(number_line(layout, ticket), 1U);
  EXPECT_EQ(number_line(layout, "no number here\n"), kNoLine);
  PrinterProfile p;
  const std::string bytes = escpos_bytes(p, layout, ticket);
  EXPECT_NE(bytes.find("\x1D\x21\x11*** COMANDA 0012 ***\n"), std::string::npos);
}

TEST(ProfiledPrinting, ProblemsOfTheFileGoToTheLogAndOneAlert) {
  std::vector<std::string> lines;
  log::Alerts board;
  report_profiles(profiles("[impressora BAR]\nmodo = escpos\ncor = azul\n[impressora CAIXA]\nmodo = escpos\n"),
                  [&](std::string_view t) { lines.emplace_back(t); }, &board);
  ASSERT_EQ(board.current().size(), 1U);
  EXPECT_EQ(board.current()[0].key, "configuracao-impressoras");
  EXPECT_NE(board.current()[0].text.find("pelo driver: BAR"), std::string::npos);
  EXPECT_EQ(lines.size(), 3U);  // the key, the refusal, CAIXA's mode
  log::Alerts quiet;
  report_profiles(PrinterProfiles{}, nullptr, &quiet);
  EXPECT_TRUE(quiet.current().empty());
}

}  // namespace
}  // namespace kav::printing
