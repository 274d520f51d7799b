// Delivery through a real CUPS scheduler to the PDF printers KAVTEST and
// KAVTEST2 that scripts/cups-test-printer.sh sets up. Without a scheduler
// that knows them, these tests say so and skip.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/clock.h"
#include "platform/print/outlet.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "support/temp_root.h"

namespace kav::printing {
namespace {

using namespace platform;
using namespace platform::print;

namespace fs = std::filesystem;
constexpr const char* kPrinter = "KAVTEST";
constexpr const char* kPausable = "KAVTEST2";

bool have_printer(const char* name) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name, nullptr);
  if (dest == nullptr) return false;
  cupsFreeDests(1, dest);
  return true;
}

#define REQUIRE_PRINTER(name)                                                    \
  if (!have_printer(name))                                                       \
  GTEST_SKIP() << "no CUPS scheduler with the printer " << (name)                \
               << " (scripts/cups-test-printer.sh " << (name) << " sets one up as root)"

// How many jobs of a printer bear a title, in the whole job history.
int jobs_titled(const char* printer, const std::string& title) {
  cups_job_t* jobs = nullptr;
  const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer, 0, CUPS_WHICHJOBS_ALL);
  int count = 0;
  for (int i = 0; i < n; ++i) count += jobs[i].title != nullptr && title == jobs[i].title;
  cupsFreeJobs(n, jobs);
  return count;
}

struct Root {
  Root() { root.lay_out(); }
  void set_printer(const std::string& printer) {
    auto f = std::unique_ptr<File>();
    ASSERT_TRUE(files->open(kInfo, OpenMode::output, f).ok());
    EXPECT_EQ(f->write("PRTDRV       \"" + printer + "\"\nFORMSIZE      A4\n"), platform::Status::kOk);
    EXPECT_EQ(f->close(), platform::Status::kOk);
  }
  void print(SpoolingPrintService& service, const std::string& printer, const std::string& order) {
    set_printer(printer);
    std::string rec(296, ' ');
    rec.replace(5, 4, order);
    service.open("FCOMANDA", kInfo).ignore();
    service.write("CABEC   ", rec).ignore();
    service.write("ORBELA  ", rec).ignore();
    EXPECT_TRUE(service.close().ok());
  }
  fs::path spool(const std::string& printer) const { return root.path() / "OrbelaTeknovarium" / "Spool" / printer; }
  // Follows up until nothing waits, at most a minute; false when time ran out.
  static bool follow_until_done(SpoolingPrintService& service) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!service.waiting().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      service.follow_up();
    }
    return service.waiting().empty();
  }

  static constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";
  test::TempRoot root;
  std::unique_ptr<FileSystem> files = make_os_file_system(root.str());
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  const test::FakeLayout layout;
  std::vector<std::string> reports;
};

TEST(CupsDelivery, PrintersAreToldApartInOneLook) {
  REQUIRE_PRINTER(kPrinter);
  auto outlet = make_os_outlet();
  ASSERT_TRUE(outlet->refresh({}));
  EXPECT_EQ(outlet->printer(kPrinter), PrinterState::ready);
  EXPECT_EQ(outlet->printer("kavtest"), PrinterState::ready);  // CUPS ignores case
  EXPECT_EQ(outlet->printer("KAV_NO_SUCH_PRINTER"), PrinterState::unknown);
  EXPECT_EQ(outlet->printer("COZINHA 1"), PrinterState::unknown);
  EXPECT_EQ(outlet->submit(TicketJob{"KAV_NO_SUCH_PRINTER", "x", {}}, "x\n").outcome, Outcome::unknown_printer);
}

TEST(CupsDelivery, TheServiceHandsOverWithoutWaitingAndClearsTheMarkOnlyWhenPrinted) {
  REQUIRE_PRINTER(kPrinter);
  Root r;
  SpoolingPrintService service(*r.files, r.clock, r.layout, make_os_outlet(),
                               [&](std::string_view t) { r.reports.emplace_back(t); }, {},
                               SpoolOptions{HandOver::on_worker});
  service.begin_work(service.new_work_id());
  r.print(service, kPrinter, "0012");
  r.print(service, "KAVNADA", "0012");
  EXPECT_TRUE(service.end_work());
  service.wait_for_hand_overs();
  const std::string name = "20191127-14380500-000001";
  EXPECT_TRUE(fs::exists(r.spool(kPrinter) / (name + "-NAO-ENTREGUE.txt")));
  EXPECT_TRUE(fs::exists(r.spool("KAVNADA") / "20191127-14380500-000002-NAO-ENTREGUE.txt"));
  ASSERT_EQ(r.reports.size(), 1U);
  EXPECT_EQ(r.reports[0], record::cp1252("Não impresso em KAVNADA (inexistente): "
                                         "20191127-14380500-000002-NAO-ENTREGUE.txt !!!"));
  // The KAVNADA ticket waits for a printer of that name; only KAVTEST's is followed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!fs::exists(r.spool(kPrinter) / (name + ".txt")) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    service.follow_up();
  }
  EXPECT_TRUE(fs::exists(r.spool(kPrinter) / (name + ".txt")));
  EXPECT_FALSE(fs::exists(r.spool(kPrinter) / (name + "-NAO-ENTREGUE.txt")));
}

TEST(CupsDelivery, APausedQueueGetsEveryTicketExactlyOnceWhenItIsResumed) {
  REQUIRE_PRINTER(kPausable);
  if (std::system("cupsdisable KAVTEST2 >/dev/null 2>&1") != 0) GTEST_SKIP() << "cannot pause KAVTEST2";
  struct Resume {
    ~Resume() { [[maybe_unused]] const int rc = std::system("cupsenable KAVTEST2 >/dev/null 2>&1"); }
  } resume;
  Root r;
  SpoolingPrintService service(*r.files, r.clock, r.layout, make_os_outlet(),
                               [&](std::string_view t) { r.reports.emplace_back(t); }, {},
                               SpoolOptions{HandOver::on_worker});
  const std::string work = service.new_work_id();
  service.begin_work(work);
  for (const char* order : {"0001", "0002", "0003"}) r.print(service, kPausable, order);
  EXPECT_TRUE(service.end_work());
  service.wait_for_hand_overs();
  ASSERT_EQ(service.waiting().size(), 3U);
  for (const auto& t : service.waiting()) {
    EXPECT_EQ(t.job, 0) << "nothing is handed to a paused printer";
    EXPECT_TRUE(fs::exists(r.spool(kPausable) / (t.base + "-NAO-ENTREGUE.txt")));
  }
  ASSERT_EQ(r.reports.size(), 3U);
  EXPECT_NE(r.reports[0].find("(parado)"), std::string::npos) << r.reports[0];

  service.follow_up();  // still paused: nothing sent, every mark kept
  service.wait_for_hand_overs();
  for (const auto& t : service.waiting()) EXPECT_EQ(t.job, 0);

  ASSERT_EQ(std::system("cupsenable KAVTEST2 >/dev/null 2>&1"), 0);
  ASSERT_TRUE(Root::follow_until_done(service));
  const std::string host = r.files->host_path("C:\\OrbelaTeknovarium\\Spool");
  for (int i = 1; i <= 3; ++i) {
    const std::string base = work + "-00000" + std::to_string(i);
    EXPECT_TRUE(fs::exists(r.spool(kPausable) / (base + ".txt"))) << base;
    EXPECT_FALSE(fs::exists(r.spool(kPausable) / (base + "-NAO-ENTREGUE.txt"))) << base;
    EXPECT_EQ(jobs_titled(kPausable, job_title(base, host)), 1) << base;
  }
}

}  // namespace
}  // namespace kav::printing

// The default paper of a driver queue made for the test (a driver with a
// roll and a tray, its own name, removed after): A4 is a sheet, the 80 mm
// roll is not, and a queue the scheduler does not know has none.
#include <unistd.h>

#include "printing/sheet_watch.h"

namespace kav::printing {
namespace {

bool shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

TEST(CupsDefaultPaper, TheQueuesPageSizeIsItsPaper) {
  const std::string ppd = std::string(KAV_SOURCE_DIR) + "/tests/printing/roll-80mm.ppd";
  const std::string name = "KAVPAPER" + std::to_string(::getpid());
  if (!fs::exists(ppd) || !shell("lpstat -r | grep -q 'is running'") ||
      !shell("lpadmin -p " + name + " -E -v file:///dev/null -P " + ppd + " -o PageSize=A4")) {
    GTEST_SKIP() << "no CUPS scheduler that lets this test add a queue with " << ppd;
  }
  const auto outlet = make_os_outlet();
  const std::optional<Paper> a4 = outlet->default_paper(name);
  const bool rolled = shell("lpadmin -p " + name + " -o PageSize=X80MMY200MM");
  const std::optional<Paper> roll = outlet->default_paper(name);
  shell("lpadmin -x " + name);
  ASSERT_TRUE(a4.has_value());
  EXPECT_EQ(paper_label(*a4), "A4") << a4->name << " " << a4->width << "x" << a4->length;
  EXPECT_TRUE(is_sheet(*a4));
  ASSERT_TRUE(rolled);
  ASSERT_TRUE(roll.has_value());
  EXPECT_EQ(roll->width, 800) << roll->name;
  EXPECT_FALSE(is_sheet(*roll));
  EXPECT_FALSE(outlet->default_paper(name).has_value());
}

}  // namespace
}  // namespace kav::printing
