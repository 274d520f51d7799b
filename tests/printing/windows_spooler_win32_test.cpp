// Delivery through the Windows spooler to a real printer: under Wine, the CUPS
// PDF printer KAVTEST that scripts/cups-test-printer.sh sets up, which Wine
// shows as a Windows printer. Without a printer of that name these tests say
// so and skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "board/alerts.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/print/outlet.h"
#include "platform/print/print_fakes.h"
#include "platform/print/spool_store.h"
#include "printing/printer_profiles.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "settings/config_file.h"
#include "settings/kav_settings.h"
#include "support/temp_root.h"

namespace kav::printing {
namespace {

using namespace platform;
using namespace platform::print;

namespace fs = std::filesystem;
constexpr const char* kPrinter = "KAVTEST";

bool have_printer() {
  auto outlet = make_os_outlet();
  return outlet->refresh({}) && outlet->printer(kPrinter) == PrinterState::ready;
}

#define REQUIRE_PRINTER()                                                                          \
  if (!have_printer())                                                                             \
  GTEST_SKIP() << "no printer " << kPrinter << " that takes jobs (under Wine: scripts/cups-test-printer.sh " \
               << kPrinter << " sets up a CUPS one as root)"

struct Root {
  Root() { root.lay_out(); }
  void print(SpoolingPrintService& service, const std::string& order, const std::string& printer = kPrinter) {
    auto f = std::unique_ptr<File>();
    ASSERT_TRUE(files->open(kInfo, OpenMode::output, f).ok());
    ASSERT_TRUE(f->write("PRTDRV       \"" + printer + "\"\nFORMKIND      C\n").ok());
    ASSERT_TRUE(f->close().ok());
    std::string rec(296, ' ');
    rec.replace(5, 4, order);
    EXPECT_TRUE(service.open("FCOMANDA", kInfo).ok());
    EXPECT_TRUE(service.write("CABEC   ", rec).ok());
    EXPECT_TRUE(service.write("ORBELA  ", rec).ok());
    EXPECT_TRUE(service.close().ok());
  }
  std::unique_ptr<SpoolingPrintService> service() {
    return std::make_unique<SpoolingPrintService>(*files, clock, layout, make_os_outlet(),
                                                  [this](std::string_view t) { reports.emplace_back(t); }, &board,
                                                  SpoolOptions{HandOver::on_worker});
  }
  fs::path spool() const { return root.path() / "OrbelaTeknovarium" / "Spool" / kPrinter; }
  // Follows up until nothing waits, at most a minute; false when time ran out.
  static bool follow_until_done(SpoolingPrintService& service) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!service.waiting().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      service.follow_up();
    }
    return service.waiting().empty();
  }
  bool logged(std::string_view text) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) == 0; });
  }
  bool reported(std::string_view text) const {
    return std::any_of(reports.begin(), reports.end(), [&](const std::string& l) { return l.find(text) == 0; });
  }
  // The log's lines for delivered tickets, and nothing else but the one line
  // of a queue the spooler will not list.
  void expect_delivered(const std::vector<std::string>& bases) {
    std::vector<std::string> expected;
    for (const auto& b : bases) expected.push_back("Ticket " + b + ".txt entregue em KAVTEST");
    std::erase_if(reports, [](const std::string& l) { return l.find(record::cp1252("Fila de impressão de ")) == 0; });
    EXPECT_EQ(reports, expected);
    reports.clear();
  }

  static constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";
  test::TempRoot root;
  std::unique_ptr<FileSystem> files = make_os_file_system(root.str());
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  const test::FakeLayout layout;
  std::vector<std::string> reports, lines;
  log::Alerts board{[this](std::string_view t) { lines.emplace_back(t); }};
};

// What the spooler says of a job it handed on and of one it never had: "no
// such job" (gone), never "cannot tell", whether or not it lists its queue.
TEST(WindowsSpooler, AJobThatLeftTheQueueAndOneNeverMadeAreBothGone) {
  REQUIRE_PRINTER();
  auto outlet = make_os_outlet();
  ASSERT_TRUE(outlet->refresh({}));
  EXPECT_EQ(outlet->printer("kavtest"), PrinterState::ready);  // the spooler ignores case
  EXPECT_EQ(outlet->submit(TicketJob{"KAV_NO_SUCH_PRINTER", "x", {}}, "x\r\n").outcome, Outcome::unknown_printer);

  const Delivery d = outlet->submit(TicketJob{kPrinter, "kav-win32-job-state", {}}, "Fil\xE9 \xE0 parmegiana\r\n");
  ASSERT_EQ(d.outcome, Outcome::accepted) << d.detail;
  ASSERT_GT(d.job_id, 0);
  EXPECT_EQ(outlet->job(kPrinter, 999999), JobState::gone);
  const JobState state = outlet->job(kPrinter, d.job_id);
  EXPECT_NE(state, JobState::unknown);
  EXPECT_NE(state, JobState::aborted);
}

// Two runs on one root: the tickets of the first are settled by their jobs,
// listed or each asked for by itself; the second run's start settles a ticket
// the first left marked with its job noted. When the spooler will not list
// the queue, the log says so.
TEST(WindowsSpooler, TicketsAreSettledByTheirJobsAcrossARestart) {
  REQUIRE_PRINTER();
  Root r;
  auto probe = make_os_outlet();
  ASSERT_TRUE(probe->refresh({kPrinter}));
  const bool unreadable = probe->unlisted().contains(kPrinter);

  auto first = r.service();
  first->start({});
  first->begin_work(first->new_work_id());
  r.print(*first, "0012");
  r.print(*first, "0013");
  EXPECT_TRUE(first->end_work());
  first->wait_for_hand_overs();
  ASSERT_EQ(first->waiting().size(), 2U);
  const int job = first->waiting()[1].job;
  const std::string first_base = first->waiting()[0].base;
  const std::string second_base = first->waiting()[1].base;
  EXPECT_GT(job, 0);
  ASSERT_TRUE(Root::follow_until_done(*first)) << "tickets still marked after a minute";
  first.reset();
  // A queue that cannot be listed while each job is followed by itself is a
  // line of the log, not an alert.
  EXPECT_EQ(r.reported(record::cp1252("Fila de impressão de KAVTEST ilegível")), unreadable);
  EXPECT_FALSE(r.logged(record::cp1252("Fila de impressão de KAVTEST ilegível")));
  r.expect_delivered({first_base, second_base});

  // As a run that ended before its look: the ticket marked again, its job noted.
  fs::rename(r.spool() / (second_base + ".txt"), r.spool() / (second_base + "-NAO-ENTREGUE.txt"));
  SpoolStore store(*r.files);
  store.write_note("C:\\OrbelaTeknovarium\\Spool\\KAVTEST", second_base, job);
  auto second = r.service();
  second->start({});
  second->follow_up();
  ASSERT_TRUE(Root::follow_until_done(*second));
  EXPECT_TRUE(fs::exists(r.spool() / (second_base + ".txt")));
  r.expect_delivered({second_base});
}

// A printer the spooler does not know (one removed, or a name no queue has)
// with a backup: its ticket reaches the backup through the Windows spooler
// within the backup's limit plus one check (the virtual clock, five seconds
// a check), once, under the banner; the original is settled.
TEST(WindowsSpooler, AnUnknownPrintersTicketIsPrintedOnItsBackupOnce) {
  REQUIRE_PRINTER();
  const std::string away = "KAVSUMIDA";
  Root r;
  {
    std::unique_ptr<File> f;
    ASSERT_TRUE(r.files->open(settings::kConfigPath, OpenMode::output, f).ok());
    ASSERT_TRUE(f->write("[impressora " + away + "]\r\nreserva = " + kPrinter + "\r\nminutos_reserva = 2\r\n").ok());
    ASSERT_TRUE(f->close().ok());
  }
  SpoolOptions options{HandOver::on_worker};
  options.profiles = PrinterProfiles(settings::read_kav_settings(*r.files));
  SpoolingPrintService service(*r.files, r.clock, r.layout, make_os_outlet(),
                               [&](std::string_view t) { r.reports.emplace_back(t); }, nullptr, options);
  service.start({});
  service.begin_work(service.new_work_id());
  r.print(service, "0013", away);
  EXPECT_TRUE(service.end_work());
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
  EXPECT_TRUE(fs::exists(r.root.path() / "OrbelaTeknovarium" / "Spool" / away / (original + ".txt")))
      << "the original settled";
  ASSERT_TRUE(Root::follow_until_done(service)) << "the copy still marked after a minute";
  for (int i = 0; i < 3; ++i) {
    r.clock.advance_ms(5000);
    service.follow_up();
    service.wait_for_hand_overs();
  }
  EXPECT_EQ(sent(), 1) << "nothing twice";
  // The copy kept for the backup carries the banner.
  std::string copy;
  for (const auto& entry : fs::directory_iterator(r.spool())) {
    std::ifstream in(entry.path(), std::ios::binary);
    copy.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_EQ(copy.find("*** PARA " + away + record::cp1252(" - ENVIADO À ") + kPrinter + " ***"), 0U) << copy;
  std::printf("[ figures ] unknown printer to its backup: %d s of the virtual clock (limit 120 s, checks of 5 s)\n",
              seconds);
}

}  // namespace
}  // namespace kav::printing
