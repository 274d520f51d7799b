// The ledger of delivery on its own: no worker, no outlet. The test plays the
// hand-over queue, answering each hand-over and look as a spooler would, so
// the decisions (what is sent, sent again, settled, reported, alerted) are
// seen one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "log/alerts.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/print/hand_over.h"
#include "platform/print/spool_store.h"
#include "printing/ledger.h"
#include "record/cp1252.h"

namespace kav::printing {
namespace {

using namespace platform::print;

constexpr std::string_view kBar = "C:\\OrbelaTeknovarium\\Spool\\BAR";

// Records what the ledger queues; holds printers back as it is told.
class RecordingQueue final : public HandOverQueue {
 public:
  void hand_over(HandOverJob job, bool nothing_on_its_way) override {
    if (nothing_on_its_way) held.erase(printer_key(job.job.printer));
    jobs.push_back(std::move(job));
  }
  void look(LookRequest request) override { looks.push_back(std::move(request)); }
  bool held_back(const std::string& key) override { return held.count(key) != 0; }
  void keep_held_back_only(const std::set<std::string>& keys) override {
    std::erase_if(held, [&](const std::string& k) { return !keys.contains(k); });
  }

  std::vector<HandOverJob> jobs;
  std::vector<LookRequest> looks;
  std::set<std::string> held;
};

struct Books {
  Books() {
    files.create_directory("C:\\OrbelaTeknovarium\\Spool");
    files.create_directory(kBar);
  }

  // A ticket kept under its marked name and given to the ledger.
  void keep(const std::string& base) {
    files.put(SpoolStore::path(kBar, base, true), "ticket " + base);
    ledger.kept(Ticket{std::string(kBar), base, "BAR", {}}, "ticket " + base);
  }
  // What came of the last hand-over queued.
  void handed(Outcome outcome, int job = 0) {
    const HandOverJob& j = queue.jobs.back();
    HandOverResult r;
    r.handed = Handed{j.folder, j.base, Delivery{outcome, job, {}}, j.redelivery, true};
    ledger.take(r);
    ledger.update_alerts();
  }
  // A look: BAR in `state`, and the jobs listed.
  void looked(PrinterState state, std::vector<JobInfo> jobs = {}) {
    HandOverResult r;
    r.look = true;
    r.looked.reachable = true;
    r.looked.printers["bar"] = state;
    r.looked.jobs = std::move(jobs);
    ledger.take(r);
    ledger.update_alerts();
  }
  std::map<std::string, std::string> alerts() const {
    std::map<std::string, std::string> up;
    for (const auto& a : board.current()) up[a.key] = a.text;
    return up;
  }

  platform::MemoryFileSystem files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 5};
  SpoolStore store{files};
  RecordingQueue queue;
  std::vector<std::string> reports, board_lines;
  log::Alerts board{[this](std::string_view t) { board_lines.emplace_back(t); }};
  Ledger ledger{store, clock, queue, [this](std::string_view t) { reports.emplace_back(t); }, &board};
};

TEST(Ledger, ATicketRefusedIsReportedAlertedSentAgainAtTheNextLookAndSettledWhenPrinted) {
  Books b;
  b.board.raise("web", "Servidor fora do ar");  // not printing's: left alone throughout
  b.keep("20191127-14380500-000001");
  ASSERT_EQ(b.queue.jobs.size(), 1U);
  EXPECT_FALSE(b.queue.jobs[0].redelivery);
  EXPECT_TRUE(b.queue.jobs[0].job.title.starts_with("20191127-14380500-000001@"));

  b.handed(Outcome::refused);
  EXPECT_EQ(b.reports, std::vector<std::string>{record::cp1252(
                           "Não impresso em BAR (recusado): 20191127-14380500-000001-NAO-ENTREGUE.txt !!!")});
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{
                            {"impressao-pendente:bar", record::cp1252("Impressora BAR não recebeu tickets (recusado); "
                                                                      "reenvio automático")},
                            {"web", "Servidor fora do ar"}}));

  // The next check asks for a look; the printer takes jobs again.
  EXPECT_FALSE(b.ledger.follow_up());
  ASSERT_EQ(b.queue.looks.size(), 1U);
  EXPECT_EQ(b.queue.looks[0].printers, std::set<std::string>{"BAR"});
  b.looked(PrinterState::ready);
  ASSERT_EQ(b.queue.jobs.size(), 2U);
  EXPECT_TRUE(b.queue.jobs[1].redelivery);
  EXPECT_EQ(b.queue.jobs[1].text, "ticket 20191127-14380500-000001");  // read back from the spool
  b.handed(Outcome::accepted, 7);
  EXPECT_EQ(b.reports.back(), "Reenviando 20191127-14380500-000001-NAO-ENTREGUE.txt para BAR ...");
  EXPECT_EQ(b.alerts().size(), 1U) << "taken by the spooler: the printing alert ended, the web one stands";
  EXPECT_EQ(b.board_lines.back(),
            record::cp1252("Resolvido: Impressora BAR não recebeu tickets (recusado); reenvio automático"));

  // Its job is followed until the printer has finished it.
  b.ledger.follow_up();
  ASSERT_EQ(b.queue.looks.size(), 2U);
  EXPECT_EQ(b.queue.looks[1].first_job, 7);
  b.looked(PrinterState::ready, {JobInfo{7, "BAR", "", JobState::pending}});
  EXPECT_TRUE(b.files.exists(SpoolStore::path(kBar, "20191127-14380500-000001", true)));
  b.ledger.follow_up();
  b.looked(PrinterState::ready, {JobInfo{7, "bar", "", JobState::completed}});
  EXPECT_FALSE(b.files.exists(SpoolStore::path(kBar, "20191127-14380500-000001", true)));
  EXPECT_TRUE(b.files.exists(SpoolStore::path(kBar, "20191127-14380500-000001", false)));
  EXPECT_EQ(b.reports.back(), "Impresso em BAR: 20191127-14380500-000001.txt");
  EXPECT_TRUE(b.ledger.waiting().empty());
}

TEST(Ledger, ANewTicketWaitsBehindAnUndeliveredOneAndAnUnreachableSpoolerChangesNothing) {
  Books b;
  b.keep("20191127-14380500-000001");
  b.handed(Outcome::stopped);
  b.keep("20191127-14380500-000002");
  EXPECT_EQ(b.queue.jobs.size(), 1U) << "never passes the undelivered ticket";
  EXPECT_EQ(b.reports.back(),
            record::cp1252("Não impresso em BAR (parado): 20191127-14380500-000002-NAO-ENTREGUE.txt !!!"));

  b.ledger.follow_up();
  HandOverResult unreachable;
  unreachable.look = true;
  b.ledger.take(unreachable);
  EXPECT_EQ(b.queue.jobs.size(), 1U);
  EXPECT_EQ(b.ledger.waiting().size(), 2U);

  // Still stopped: nothing is asked of it.
  b.ledger.follow_up();
  b.looked(PrinterState::stopped);
  EXPECT_EQ(b.queue.jobs.size(), 1U);

  b.ledger.follow_up();
  b.looked(PrinterState::ready);
  ASSERT_EQ(b.queue.jobs.size(), 3U) << "both, in order";
  EXPECT_EQ(b.queue.jobs[1].base, "20191127-14380500-000001");
  EXPECT_EQ(b.queue.jobs[2].base, "20191127-14380500-000002");
}

TEST(Ledger, TicketsPastTheLimitAreReportedOnceAndAlertedNotSentAgain) {
  Books b;
  b.keep("20191127-14380500-000001");
  b.handed(Outcome::unknown_printer);
  b.clock.advance_ms(31 * 60'000);
  for (int check = 0; check < 2; ++check) {
    b.ledger.follow_up();
    b.looked(PrinterState::ready);
  }
  EXPECT_EQ(b.queue.jobs.size(), 1U);
  EXPECT_EQ(std::count(b.reports.begin(), b.reports.end(),
                       record::cp1252("Não reenviado, mais de 30 min: BAR\\20191127-14380500-000001-NAO-ENTREGUE.txt !!!")),
            1);
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{
                            {"impressao-antiga:bar",
                             record::cp1252("Impressora BAR: tickets com mais de 30 min não impressos; use kav-spool")}}));
}

TEST(Ledger, AtStartATicketWithAJobNoteTheSpoolerForgotIsSettledAndTheOthersAreLookedUpByName) {
  Books b;
  b.files.put(SpoolStore::path(kBar, "20191127-14370000-000001", true), "noted");
  b.store.write_note(kBar, "20191127-14370000-000001", 12);
  b.files.put(SpoolStore::path(kBar, "20191127-14370000-000002", true), "never handed over");
  b.files.put(SpoolStore::unfinished_path(kBar, "20191127-14370000-000003"), "cut");
  b.files.put(SpoolStore::unfinished_path(kBar, "20191127-14360000-000001"), "of a work done over");
  platform::StampSequence stamps;
  b.ledger.start({"20191127-14360000"}, stamps);
  EXPECT_EQ(stamps.last(), "20191127-14370000");
  EXPECT_FALSE(b.files.exists(SpoolStore::unfinished_path(kBar, "20191127-14360000-000001")));
  EXPECT_EQ(b.reports, std::vector<std::string>{"Ticket incompleto no Spool: BAR\\20191127-14370000-000003.TMP !!!"});
  EXPECT_EQ(b.ledger.waiting().size(), 2U);
  EXPECT_TRUE(b.alerts().empty()) << "an earlier run's tickets are not late before they were looked up";

  EXPECT_TRUE(b.ledger.follow_up()) << "the caller waits for this look before printing anything new";
  ASSERT_EQ(b.queue.looks.size(), 1U);
  EXPECT_EQ(b.queue.looks[0].first_job, 0);
  EXPECT_EQ(b.queue.looks[0].titles.size(), 2U);
  b.looked(PrinterState::ready);
  EXPECT_TRUE(b.files.exists(SpoolStore::path(kBar, "20191127-14370000-000001", false)));
  EXPECT_FALSE(b.files.exists(SpoolStore::note_path(kBar, "20191127-14370000-000001")));
  ASSERT_EQ(b.queue.jobs.size(), 1U);
  EXPECT_EQ(b.queue.jobs[0].base, "20191127-14370000-000002");
  EXPECT_EQ(b.queue.jobs[0].text, "never handed over");
}

TEST(Ledger, ASpoolFailureStandsUntilTheFolderKeepsATicketAgain) {
  Books b;
  b.ledger.spool_failed("BAR ");
  b.ledger.spool_failed("");
  b.ledger.update_alerts();
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{
                            {"impressao-spool:", "Falha ao gravar Spool de (sem impressora) !!!"},
                            {"impressao-spool:bar", "Falha ao gravar Spool de BAR !!!"}}));
  b.ledger.spool_kept("bar");
  b.ledger.update_alerts();
  EXPECT_EQ(b.alerts().size(), 1U);
}

}  // namespace
}  // namespace kav::printing
