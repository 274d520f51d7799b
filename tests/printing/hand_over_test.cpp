// The hand-over of kept tickets to the spooler on the print service's worker
// thread, on real files: the check goes on while the spooler takes them, in
// order, and the follow-up never races with a ticket on its way.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/print/hand_over.h"
#include "platform/print/print_fakes.h"
#include "platform/print/spool_store.h"
#include "printing/spooling_print_service.h"
#include "support/temp_root.h"

namespace kav::printing {
namespace {

using namespace platform;
using namespace platform::print;

namespace fs = std::filesystem;
using test::FakeOutlet;

// Holds every hand-over at its start until released.
class Gate {
 public:
  void pass() {
    std::unique_lock lock(mutex_);
    ++arrived_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return open_; });
  }
  void wait_for(int n) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return arrived_ >= n; });
  }
  void release() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int arrived_ = 0;
  bool open_ = false;
};

struct OnWorker {
  OnWorker() {
    root.lay_out();
    service = std::make_unique<SpoolingPrintService>(
        *files, clock, layout, std::unique_ptr<PrinterOutlet>(outlet),
        [this](std::string_view t) { reports.emplace_back(t); }, nullptr, SpoolOptions{HandOver::on_worker});
  }

  void print(const std::string& printer) { print_with(*service, printer); }
  void print_with(SpoolingPrintService& s, const std::string& printer) {
    std::unique_ptr<File> info;
    ASSERT_TRUE(files->open(kInfo, OpenMode::output, info).ok());
    EXPECT_EQ(info->write("PRTDRV       \"" + printer + "\"\n"), platform::Status::kOk);
    EXPECT_EQ(info->close(), platform::Status::kOk);
    s.open("FCOMANDA", kInfo).ignore();
    s.write("TRACO   ", printer).ignore();
    ASSERT_TRUE(s.close().ok());
  }
  fs::path spool(const std::string& printer) const { return root.path() / "OrbelaTeknovarium" / "Spool" / printer; }
  std::vector<std::string> names(const std::string& printer) const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(spool(printer))) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  static constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";
  test::TempRoot root;
  std::unique_ptr<FileSystem> files = make_os_file_system(root.str());
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeLayout layout;
  FakeOutlet* outlet = new FakeOutlet;
  std::vector<std::string> reports;
  std::unique_ptr<SpoolingPrintService> service;
};

std::string base_of(const std::string& title) { return title.substr(0, title.find('@')); }

TEST(HandOverOnWorker, TheWorkEndsWithItsTicketsKeptWhileTheSpoolerStillTakesThemInOrder) {
  OnWorker w;
  Gate gate;
  w.outlet->before_submit = [&](const TicketJob&) { gate.pass(); };
  const std::string work = w.service->new_work_id();
  w.service->begin_work(work);
  for (const char* p : {"BAR", "COZINHA", "BAR"}) w.print(p);
  ASSERT_TRUE(w.service->end_work());  // returns with the first hand-over held
  gate.wait_for(1);
  EXPECT_EQ(w.names("BAR"), (std::vector<std::string>{work + "-000001-NAO-ENTREGUE.txt",
                                                      work + "-000003-NAO-ENTREGUE.txt"}));
  EXPECT_EQ(w.names("COZINHA"), std::vector<std::string>{work + "-000002-NAO-ENTREGUE.txt"});

  // A check while they are on their way: nothing is sent twice, no mark goes.
  w.service->follow_up();
  for (const auto& t : w.service->waiting()) EXPECT_EQ(t.state, Ticket::State::on_its_way) << t.base;

  gate.release();
  w.service->wait_for_hand_overs();
  ASSERT_EQ(w.outlet->handed.size(), 3U);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(base_of(w.outlet->handed[i].job.title), work + "-00000" + std::to_string(i + 1));
  }
  EXPECT_EQ(test::slurp(w.spool("BAR") / (work + "-000003.job")), "3");
  EXPECT_TRUE(w.reports.empty());

  w.outlet->finish_all();
  w.service->follow_up();
  w.service->wait_for_hand_overs();
  EXPECT_TRUE(w.service->waiting().empty());
  EXPECT_EQ(w.names("BAR"), (std::vector<std::string>{work + "-000001.txt", work + "-000003.txt"}));
  EXPECT_EQ(w.outlet->submits, 3);
}

TEST(HandOverOnWorker, APrinterThatFailsATicketHoldsBackOnlyItsOwnTicketsQueuedBehindIt) {
  OnWorker w;
  w.outlet->before_submit = [&](const TicketJob& job) {
    w.outlet->outcome = job.printer == "BAR" ? Outcome::refused : Outcome::accepted;
  };
  const std::string work = w.service->new_work_id();
  w.service->begin_work(work);
  for (const char* p : {"BAR", "COZINHA", "BAR", "COZINHA"}) w.print(p);
  ASSERT_TRUE(w.service->end_work());
  w.service->wait_for_hand_overs();
  EXPECT_EQ(w.outlet->submits, 3);  // the second BAR ticket was not tried
  ASSERT_EQ(w.outlet->handed.size(), 2U);
  EXPECT_EQ(w.outlet->handed[1].job.printer, "COZINHA");
  ASSERT_EQ(w.reports.size(), 2U);
  EXPECT_NE(w.reports[0].find("(recusado): " + work + "-000001"), std::string::npos) << w.reports[0];
  EXPECT_NE(w.reports[1].find("(aguardando): " + work + "-000003"), std::string::npos) << w.reports[1];

  // The printer takes jobs again: its tickets go at the next check, in order.
  w.outlet->before_submit = nullptr;
  w.outlet->outcome = Outcome::accepted;
  w.clock.advance_ms(5'000);
  w.service->follow_up();
  w.service->wait_for_hand_overs();
  ASSERT_EQ(w.outlet->handed.size(), 4U);
  EXPECT_EQ(base_of(w.outlet->handed[2].job.title), work + "-000001");
  EXPECT_EQ(base_of(w.outlet->handed[3].job.title), work + "-000003");
  EXPECT_TRUE(w.reports.back().starts_with("Reenviando " + work + "-000003-NAO-ENTREGUE.txt para BAR"));
}

TEST(HandOverOnWorker, AHandOverUnderWayIsNotDrainedBeforeItsResultIsIn) {
  test::TempRoot root;
  root.lay_out();
  const std::unique_ptr<FileSystem> files = make_os_file_system(root.str());
  SpoolStore store(*files);
  auto* outlet = new FakeOutlet;
  Gate gate;
  outlet->before_submit = [&](const TicketJob&) { gate.pass(); };
  HandOverWorker worker(store, std::unique_ptr<PrinterOutlet>(outlet), HandOver::on_worker);
  HandOverJob job;
  job.folder = store.folder_for("BAR");
  job.base = "20191127-14380500-000001";
  job.job.printer = "BAR";
  job.job.title = job.base;
  job.text = "x";
  job.kept = false;
  worker.hand_over(job, true);
  gate.wait_for(1);  // taken off the queue, its result not yet in
  EXPECT_FALSE(worker.drained());
  gate.release();
  worker.wait_until_idle();
  EXPECT_FALSE(worker.drained());  // its result waits to be taken
  EXPECT_EQ(worker.take_results().size(), 1U);
  EXPECT_TRUE(worker.drained());
}

TEST(HandOverOnWorker, TicketsQueuedWhenTheServiceEndsAreHandedOverFirst) {
  OnWorker w;
  Gate gate;
  std::vector<std::string> titles;  // written on the worker, read after it has ended
  w.outlet->before_submit = [&](const TicketJob& job) {
    gate.pass();
    titles.push_back(job.title);
  };
  w.service->begin_work(w.service->new_work_id());
  for (const char* p : {"BAR", "BAR", "COZINHA"}) w.print(p);
  ASSERT_TRUE(w.service->end_work());
  std::thread opener([&] {
    gate.wait_for(1);
    gate.release();
  });
  w.service.reset();
  opener.join();
  EXPECT_EQ(titles.size(), 3U);
  EXPECT_EQ(w.names("COZINHA").size(), 2U);  // the ticket and its job note
}

TEST(HandOverOnWorker, AfterAStartTheTicketsAnEarlierRunHandedOverDoNotHoldBackNewOnes) {
  OnWorker w;
  w.service->begin_work(w.service->new_work_id());
  w.print("BAR");
  ASSERT_TRUE(w.service->end_work());
  w.service->wait_for_hand_overs();
  auto* outlet2 = new FakeOutlet;  // the same spooler, seen by the next run: the job still waits
  outlet2->handed = w.outlet->handed;
  outlet2->states = w.outlet->states;
  outlet2->next_id = 10;
  w.service.reset();

  SpoolingPrintService again(*w.files, w.clock, w.layout, std::unique_ptr<PrinterOutlet>(outlet2),
                             [&](std::string_view t) { w.reports.emplace_back(t); }, nullptr,
                             SpoolOptions{HandOver::on_worker});
  again.start({});
  again.follow_up();  // the first check: the ticket is found in the spooler by name
  w.clock.advance_ms(10);
  again.begin_work(again.new_work_id());
  w.print_with(again, "BAR");
  ASSERT_TRUE(again.end_work());
  again.wait_for_hand_overs();
  EXPECT_EQ(outlet2->submits, 1);  // the new one, at once; the old one not again
  EXPECT_TRUE(w.reports.empty()) << w.reports.front();
  ASSERT_EQ(again.waiting().size(), 2U);
  EXPECT_EQ(again.waiting()[0].job, 1);
}

TEST(HandOverOnWorker, AStartWhoseJobListingFailsAsksEachNotedJobAndPrintsNewTicketsAtOnce) {
  // A spooler that will not list jobs: the first run's two tickets are
  // asked for one by one: one the spooler finished, one it forgot.
  OnWorker w;
  w.service->begin_work(w.service->new_work_id());
  w.print("BAR");
  w.print("BAR");
  ASSERT_TRUE(w.service->end_work());
  w.service->wait_for_hand_overs();
  auto* outlet2 = new FakeOutlet;
  outlet2->listing_fails = true;
  outlet2->handed = w.outlet->handed;
  outlet2->states = {{1, JobState::completed}};
  outlet2->next_id = 10;
  w.service.reset();

  SpoolingPrintService again(*w.files, w.clock, w.layout, std::unique_ptr<PrinterOutlet>(outlet2),
                             [&](std::string_view t) { w.reports.emplace_back(t); }, nullptr,
                             SpoolOptions{HandOver::on_worker});
  again.start({});
  again.follow_up();
  w.clock.advance_ms(10);
  again.begin_work(again.new_work_id());
  w.print_with(again, "BAR");
  ASSERT_TRUE(again.end_work());
  again.wait_for_hand_overs();
  EXPECT_EQ(outlet2->submits, 1) << "the new ticket only, at once";
  // Both settled: the one finished and the one the spooler forgot (it left the queue).
  EXPECT_EQ(w.reports, (std::vector<std::string>{"Ticket 20191127-14380500-000001.txt entregue em BAR",
                                                 "Ticket 20191127-14380500-000002.txt entregue em BAR"}));
  ASSERT_EQ(again.waiting().size(), 1U) << "both of the first run settled";
  EXPECT_EQ(again.waiting()[0].job, 10);
}

TEST(HandOverOnWorker, ACleanEndSettlesWhatThePrinterFinishedAndSendsNothingMore) {
  OnWorker w;
  const std::string work = w.service->new_work_id();
  w.service->begin_work(work);
  for (const char* p : {"BAR", "BAR", "COZINHA"}) w.print(p);
  w.outlet->before_submit = [&](const TicketJob& job) {
    w.outlet->outcome = job.printer == "COZINHA" ? Outcome::refused : Outcome::accepted;
  };
  ASSERT_TRUE(w.service->end_work());
  w.service->wait_for_hand_overs();
  w.outlet->states[1] = JobState::completed;  // the first BAR ticket printed, the second still queued
  w.outlet->outcome = Outcome::accepted;
  int sent_on_the_way_out = 0;
  w.outlet->before_submit = [&](const TicketJob&) { ++sent_on_the_way_out; };
  const std::size_t reported = w.reports.size();
  w.service->finish();  // "Sair", before the end is logged: what it settles is reported by then
  EXPECT_EQ(w.reports.size(), reported + 1);
  EXPECT_EQ(w.reports.back(), "Ticket " + work + "-000001.txt entregue em BAR");
  w.service.reset();
  EXPECT_EQ(w.reports.size(), reported + 1) << "no second way out";
  EXPECT_EQ(sent_on_the_way_out, 0) << "the refused ticket is left for the next start";
  const auto marked = [&](const std::string& printer) {
    const auto n = w.names(printer);
    return std::count_if(n.begin(), n.end(), [](const std::string& f) { return f.ends_with("-NAO-ENTREGUE.txt"); });
  };
  EXPECT_EQ(marked("BAR"), 1) << "the printed one lost its mark on the way out";
  EXPECT_EQ(marked("COZINHA"), 1);
}

}  // namespace
}  // namespace kav::printing
