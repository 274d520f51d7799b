// Delivery through a real CUPS scheduler to the PDF printer KAVTEST that
// scripts/cups-test-printer.sh sets up. Without a scheduler that knows that
// printer, these tests say so and skip.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/print/outlet.h"
#include "platform/print/spooling_print_service.h"
#include "print_fakes.h"
#include "record/cp1252.h"
#include "support/temp_root.h"

namespace kav::platform::print {
namespace {

constexpr const char* kPrinter = "KAVTEST";

bool have_test_printer() {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, kPrinter, nullptr);
  if (dest == nullptr) return false;
  cupsFreeDests(1, dest);
  return true;
}

#define REQUIRE_TEST_PRINTER()                                                                        \
  if (!have_test_printer())                                                                           \
  GTEST_SKIP() << "no CUPS scheduler with the printer " << kPrinter                                   \
               << " (scripts/cups-test-printer.sh sets one up as root)"

bool job_completed(int job_id) {
  cups_job_t* jobs = nullptr;
  const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kPrinter, 0, CUPS_WHICHJOBS_COMPLETED);
  bool found = false;
  for (int i = 0; i < n; ++i) found = found || (jobs[i].id == job_id && jobs[i].state == IPP_JSTATE_COMPLETED);
  cupsFreeJobs(n, jobs);
  return found;
}

TEST(CupsDelivery, ATicketIsPrintedAndItsJobCompletes) {
  REQUIRE_TEST_PRINTER();
  auto outlet = make_os_outlet(std::chrono::seconds(60));
  const Delivery d = outlet->deliver(TicketJob{kPrinter, "kav-test-ticket", "A4"},
                                     record::cp1252("*** COMANDA 0012 ***\nPorção de fritas\n"));
  EXPECT_EQ(d.outcome, Outcome::printed) << d.detail;
  EXPECT_GT(d.job_id, 0);
  EXPECT_TRUE(job_completed(d.job_id));
}

TEST(CupsDelivery, AnUnknownPrinterIsToldApart) {
  REQUIRE_TEST_PRINTER();
  auto outlet = make_os_outlet(std::chrono::seconds(5));
  EXPECT_EQ(outlet->deliver(TicketJob{"KAV_NO_SUCH_PRINTER", "x", ""}, "x\n").outcome, Outcome::unknown_printer);
  EXPECT_EQ(outlet->deliver(TicketJob{"COZINHA 1", "x", ""}, "x\n").outcome, Outcome::unknown_printer);
}

TEST(CupsDelivery, TheServiceKeepsTheTicketAndMarksOnlyWhatWasNotDelivered) {
  REQUIRE_TEST_PRINTER();
  test::TempRoot root;
  root.lay_out();
  auto files = make_os_file_system(root.str());
  ManualClock clock(2019, 11, 27, 14, 38, 5);
  std::vector<std::string> reports;
  const test::FakeLayout layout;
  SpoolingPrintService service(*files, clock, layout, make_os_outlet(std::chrono::seconds(60)),
                               [&](std::string_view t) { reports.emplace_back(t); });
  const std::string info = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";
  std::string rec(296, ' ');
  rec.replace(5, 4, "0012");

  for (const char* printer : {kPrinter, "KAVNADA"}) {
    auto f = std::unique_ptr<File>();
    ASSERT_EQ(files->open(info, OpenMode::output, f), "00");
    f->write(std::string("PRTDRV       \"") + printer + "\"\nFORMSIZE      A4\n");
    f->close();
    service.open("FCOMANDA", info);
    service.write("CABEC   ", rec);
    service.write("ORBELA  ", rec);
    EXPECT_EQ(service.close(), "00");
  }
  const auto spool = root.path() / "OrbelaTeknovarium" / "Spool";
  EXPECT_TRUE(std::filesystem::exists(spool / kPrinter / "20191127-14380500-000001.txt"));
  EXPECT_TRUE(std::filesystem::exists(spool / "KAVNADA" / "20191127-14380500-000002-NAO-ENTREGUE.txt"));
  ASSERT_EQ(reports.size(), 1U);
  EXPECT_EQ(reports[0], record::cp1252("Não impresso em KAVNADA (inexistente): "
                                       "20191127-14380500-000002-NAO-ENTREGUE.txt !!!"));
}

}  // namespace
}  // namespace kav::platform::print
