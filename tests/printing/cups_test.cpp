// Delivery through a real CUPS scheduler to the PDF printers KAVTEST and
// KAVTEST2 that scripts/cups-test-printer.sh sets up. Without a scheduler
// that knows them, these tests say so and skip.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <unistd.h>

#include "platform/clock.h"
#include "platform/print/outlet.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "settings/kav_settings.h"
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

// A queue removed while the monitor runs: its undelivered ticket reaches its
// backup within the backup's limit plus one check (on the virtual clock,
// five seconds a check), once, under the banner; the original is settled.
// The queue is made for the test under a name of its own and removed.
TEST(CupsDelivery, AQueueRemovedMidRunHasItsTicketsPrintedOnItsBackupOnce) {
  REQUIRE_PRINTER(kPrinter);
  const std::string away = "KAVAWAY" + std::to_string(getpid());
  const std::string add = "m=$(lpinfo -m 2>/dev/null | awk '/CUPS-PDF_noopt/ {print $1; exit}'); [ -n \"$m\" ] && "
                          "lpadmin -p " + away + " -E -v cups-pdf:/ -m \"$m\" >/dev/null 2>&1";
  if (std::system(add.c_str()) != 0) GTEST_SKIP() << "cannot add a queue of its own";
  struct Remove {
    std::string name;
    ~Remove() { [[maybe_unused]] const int rc = std::system(("lpadmin -x " + name + " >/dev/null 2>&1").c_str()); }
  } remove{away};
  Root r;
  {
    std::unique_ptr<File> f;
    ASSERT_TRUE(r.files->open(settings::kConfigPath, OpenMode::output, f).ok());
    ASSERT_TRUE(f->write("[impressora " + away + "]\nreserva = " + kPrinter + "\nminutos_reserva = 2\n").ok());
    ASSERT_TRUE(f->close().ok());
  }
  SpoolOptions options{HandOver::on_worker};
  options.profiles = PrinterProfiles(settings::read_kav_settings(*r.files));
  SpoolingPrintService service(*r.files, r.clock, r.layout, make_os_outlet(),
                               [&](std::string_view t) { r.reports.emplace_back(t); }, nullptr, options);
  r.print(service, away, "0012");
  service.wait_for_hand_overs();
  ASSERT_TRUE(Root::follow_until_done(service)) << "printed on its own queue first";

  ASSERT_EQ(std::system(("lpadmin -x " + away + " >/dev/null 2>&1").c_str()), 0);
  r.print(service, away, "0013");
  service.wait_for_hand_overs();
  ASSERT_EQ(service.waiting().size(), 1U);
  const std::string original = service.waiting()[0].base;
  const auto sent = [&] {
    return std::count_if(r.reports.begin(), r.reports.end(), [&](const std::string& line) {
      return line.starts_with("Enviado para " + std::string(kPrinter));
    });
  };
  int seconds = 0;
  for (; seconds <= 300 && sent() == 0; seconds += 5) {
    r.clock.advance_ms(5000);
    service.follow_up();
    service.wait_for_hand_overs();
  }
  EXPECT_LE(seconds, 2 * 60 + 5 + 5) << "within the limit plus one check";
  ASSERT_EQ(sent(), 1);
  EXPECT_TRUE(fs::exists(r.spool(away) / (original + ".txt"))) << "the original settled";
  const std::string line = *std::find_if(r.reports.begin(), r.reports.end(), [&](const std::string& l) {
    return l.starts_with("Enviado para " + std::string(kPrinter));
  });
  const std::string copy = line.substr(line.rfind(' ') + 1);
  const std::string host = r.files->host_path("C:\\OrbelaTeknovarium\\Spool");
  EXPECT_EQ(jobs_titled(kPrinter, job_title(copy, host)), 1);
  for (int i = 0; i < 3; ++i) {
    r.clock.advance_ms(5000);
    service.follow_up();
    service.wait_for_hand_overs();
  }
  EXPECT_EQ(sent(), 1) << "nothing twice";
  std::printf("[ figures ] removed queue to its backup: %d s of the virtual clock (limit 120 s, checks of 5 s)\n",
              seconds);
}

// What the scheduler keeps of a job's document (it keeps the files of
// finished jobs for a day); empty when it cannot be read.
std::string job_document(const char* printer, const std::string& title) {
  cups_job_t* jobs = nullptr;
  const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer, 0, CUPS_WHICHJOBS_ALL);
  int id = 0;
  for (int i = 0; i < n; ++i) {
    if (jobs[i].title != nullptr && title == jobs[i].title) id = jobs[i].id;
  }
  cupsFreeJobs(n, jobs);
  if (id == 0) return {};
  char path[64];
  std::snprintf(path, sizeof path, "/var/spool/cups/d%05d-001", id);
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return {};
  std::string text;
  char buffer[4096];
  for (std::size_t got = 0; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, got);
  std::fclose(f);
  return text;
}

// A queue that refuses jobs for three minutes (on the virtual clock, five
// seconds a check) and then takes them: the ticket that waited prints once,
// saying it is late and the hour of its order. The queue is made for the
// test under a name of its own and removed.
TEST(CupsDelivery, ATicketHeldByARefusingQueuePrintsOnceSayingItIsLate) {
  REQUIRE_PRINTER(kPrinter);
  const std::string late = "KAVLATE" + std::to_string(getpid());
  const std::string add = "m=$(lpinfo -m 2>/dev/null | awk '/CUPS-PDF_noopt/ {print $1; exit}'); [ -n \"$m\" ] && "
                          "lpadmin -p " + late + " -E -v cups-pdf:/ -m \"$m\" >/dev/null 2>&1";
  if (std::system(add.c_str()) != 0) GTEST_SKIP() << "cannot add a queue of its own";
  struct Remove {
    std::string name;
    ~Remove() { [[maybe_unused]] const int rc = std::system(("lpadmin -x " + name + " >/dev/null 2>&1").c_str()); }
  } remove{late};
  ASSERT_EQ(std::system(("cupsreject " + late + " >/dev/null 2>&1").c_str()), 0);
  Root r;
  {
    std::unique_ptr<File> f;
    ASSERT_TRUE(r.files->open(settings::kConfigPath, OpenMode::output, f).ok());
    ASSERT_TRUE(f->write("[impressora " + late + "]\nminutos_atraso = 3\n").ok());
    ASSERT_TRUE(f->close().ok());
  }
  SpoolOptions options{HandOver::on_worker};
  options.profiles = PrinterProfiles(settings::read_kav_settings(*r.files));
  SpoolingPrintService service(*r.files, r.clock, r.layout, make_os_outlet(),
                               [&](std::string_view t) { r.reports.emplace_back(t); }, nullptr, options);
  r.print(service, late, "0012");
  service.wait_for_hand_overs();
  ASSERT_EQ(service.waiting().size(), 1U);
  const std::string base = service.waiting()[0].base;
  for (int seconds = 0; seconds < 3 * 60; seconds += 5) {
    r.clock.advance_ms(5000);
    service.follow_up();
    service.wait_for_hand_overs();
  }
  ASSERT_EQ(service.waiting().size(), 1U) << "nothing taken while the queue refuses";
  ASSERT_EQ(std::system(("cupsaccept " + late + " >/dev/null 2>&1").c_str()), 0);
  r.clock.advance_ms(5000);
  ASSERT_TRUE(Root::follow_until_done(service));
  EXPECT_TRUE(fs::exists(r.spool(late) / (base + ".txt")));
  const std::string title = job_title(base, r.files->host_path("C:\\OrbelaTeknovarium\\Spool"));
  EXPECT_EQ(jobs_titled(late.c_str(), title), 1);
  const std::string document = job_document(late.c_str(), title);
  if (document.empty()) GTEST_SKIP() << "the scheduler keeps no job file to read";
  const std::string mark = "ATRASADO - pedido ";
  const std::size_t at = document.find(mark);
  ASSERT_NE(at, std::string::npos) << document;
  EXPECT_EQ(document.find(mark, at + 1), std::string::npos) << "stamped once";
  EXPECT_NE(document.substr(at, 40).find("14:38"), std::string::npos) << document.substr(at, 40);
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
