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

#include "board/alerts.h"
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
    EXPECT_EQ(files.create_directory("C:\\OrbelaTeknovarium\\Spool"), platform::Status::kOk);
    EXPECT_EQ(files.create_directory(kBar), platform::Status::kOk);
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
  // A look whose listing of BAR's jobs failed: only the jobs asked for one by
  // one are known.
  void looked_unlisted(std::vector<AskedJob> asked) {
    HandOverResult r;
    r.look = true;
    r.looked.reachable = true;
    r.looked.printers["bar"] = PrinterState::ready;
    r.looked.unlisted = {"bar"};
    r.looked.asked = std::move(asked);
    ledger.take(r);
    ledger.update_alerts();
  }
  bool marked(const std::string& base) { return files.exists(SpoolStore::path(kBar, base, true)); }
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

// The log says where every ticket went: one line when its printer has
// finished it, naming the printer as the spooler knows it, and no more.
TEST(Ledger, EveryFirstDeliveryIsLoggedOnceWithItsPrinter) {
  Books b;
  b.keep("20191127-14380500-000001");
  b.handed(Outcome::accepted, 7);
  b.keep("20191127-14380500-000002");
  b.handed(Outcome::accepted, 8);
  b.ledger.follow_up();
  b.looked(PrinterState::ready, {JobInfo{7, "BAR", "", JobState::completed}, JobInfo{8, "BAR", "", JobState::pending}});
  EXPECT_EQ(b.reports, std::vector<std::string>{"Ticket 20191127-14380500-000001.txt entregue em BAR"});
  b.ledger.follow_up();
  b.looked(PrinterState::ready, {JobInfo{8, "BAR", "", JobState::completed}});
  b.ledger.follow_up();
  b.looked(PrinterState::ready);
  EXPECT_EQ(b.reports, (std::vector<std::string>{"Ticket 20191127-14380500-000001.txt entregue em BAR",
                                                 "Ticket 20191127-14380500-000002.txt entregue em BAR"}));
  EXPECT_TRUE(b.ledger.waiting().empty());
}

TEST(Ledger, ANewTicketWaitsBehindAnUndeliveredOneAndAnUnreachableSpoolerChangesNothing) {
  Books b;
  b.keep("20191127-14380500-000001");
  b.handed(Outcome::stopped);
  b.keep("20191127-14380500-000002");
  EXPECT_EQ(b.queue.jobs.size(), 1U) << "never passes the undelivered ticket";
  // The printer the spooler stopped is "parado"; the ticket behind it waits.
  EXPECT_EQ(b.reports, (std::vector<std::string>{
                           record::cp1252("Não impresso em BAR (parado): 20191127-14380500-000001-NAO-ENTREGUE.txt !!!"),
                           record::cp1252(
                               "Não impresso em BAR (aguardando): 20191127-14380500-000002-NAO-ENTREGUE.txt !!!")}));

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

// A power cut right after a hand-over can leave its job note empty (made,
// its number not yet on the disk): the ticket was handed over and may have
// printed, so it is never sent again by itself, whatever the note holds.
TEST(Ledger, AtStartATicketWhoseJobNoteNamesNoJobIsOfUnknownStateNotSentAgain) {
  for (const std::string& note : {std::string(), std::string(2, '\0'), std::string("x7")}) {
    Books b;
    b.files.put(SpoolStore::path(kBar, "20191127-14370000-000001", true), "handed over");
    b.files.put(SpoolStore::note_path(kBar, "20191127-14370000-000001"), note);
    platform::StampSequence stamps;
    b.ledger.start({}, stamps);
    EXPECT_TRUE(b.ledger.follow_up());
    ASSERT_EQ(b.queue.looks.size(), 1U);
    EXPECT_TRUE(b.queue.looks[0].ask.empty()) << "no job number to ask for";
    b.looked(PrinterState::ready);  // its name is not listed (a spooler that forgot it)
    EXPECT_TRUE(b.queue.jobs.empty()) << note.size();
    EXPECT_TRUE(b.marked("20191127-14370000-000001"));
    EXPECT_EQ(b.reports, std::vector<std::string>{record::cp1252(
                             "Situação desconhecida em BAR: 20191127-14370000-000001-NAO-ENTREGUE.txt !!!")});
  }
}

TEST(Ledger, AfterAStartWithAnUnreadableQueueNotedJobsAreAskedOneByOneAndNothingThatMayHavePrintedIsSentAgain) {
  Books b;
  const std::string done = "20191127-14370000-000001", lost = "20191127-14370000-000002",
                    unnoted = "20191127-14370000-000003", queued = "20191127-14370000-000004";
  for (const auto& base : {done, lost, unnoted, queued}) b.files.put(SpoolStore::path(kBar, base, true), base);
  b.store.write_note(kBar, done, 12);
  b.store.write_note(kBar, lost, 13);
  b.store.write_note(kBar, queued, 14);
  platform::StampSequence stamps;
  b.ledger.start({}, stamps);

  EXPECT_TRUE(b.ledger.follow_up());
  ASSERT_EQ(b.queue.looks.size(), 1U);
  EXPECT_EQ(b.queue.looks[0].ask, (std::vector<std::pair<std::string, int>>{{"BAR", 12}, {"BAR", 13}, {"BAR", 14}}));
  b.looked_unlisted({{"BAR", 12, JobState::completed}, {"BAR", 13, JobState::unknown}, {"BAR", 14, JobState::pending}});
  EXPECT_FALSE(b.marked(done)) << "found completed by its own query";
  EXPECT_TRUE(b.marked(lost));
  EXPECT_TRUE(b.marked(unnoted)) << "no job to ask for and no listing: it may have been handed over";
  EXPECT_TRUE(b.queue.jobs.empty()) << "nothing that may have printed is sent again";
  EXPECT_EQ(b.reports, (std::vector<std::string>{
                           "Ticket 20191127-14370000-000001.txt entregue em BAR",
                           record::cp1252("Situação desconhecida em BAR: 20191127-14370000-000002-NAO-ENTREGUE.txt !!!"),
                           record::cp1252("Situação desconhecida em BAR: 20191127-14370000-000003-NAO-ENTREGUE.txt !!!")}));
  const std::string unreadable = record::cp1252("Fila de impressão de BAR ilegível: 2 ticket(s) sem situação; use kav-spool");
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{{"impressao-fila:bar", unreadable}}));
  EXPECT_LE(unreadable.size(), log::Alerts::kTextWidth);

  // A new ticket is not held back behind tickets whose state is unknown.
  b.keep("20191127-14380500-000001");
  ASSERT_EQ(b.queue.jobs.size(), 1U);
  EXPECT_EQ(b.queue.jobs[0].base, "20191127-14380500-000001");
  b.handed(Outcome::accepted, 15);

  // Still unreadable: reported once only; the one still queued is followed.
  b.ledger.follow_up();
  b.looked_unlisted({{"BAR", 13, JobState::unknown}, {"BAR", 14, JobState::completed}, {"BAR", 15, JobState::pending}});
  EXPECT_EQ(b.reports.size(), 4U);
  EXPECT_EQ(b.reports.back(), "Ticket 20191127-14370000-000004.txt entregue em BAR");
  EXPECT_FALSE(b.marked(queued));

  // The queue can be read again: the unknown ones are resolved by job state,
  // and only the one never handed over (no job by its name, no note) is sent.
  b.ledger.follow_up();
  ASSERT_EQ(b.queue.looks.size(), 3U);
  EXPECT_EQ(b.queue.looks[2].first_job, 0) << "the whole listing, to find them by name";
  HandOverResult r;
  r.look = true;
  r.looked.reachable = true;
  r.looked.printers["bar"] = PrinterState::ready;
  r.looked.jobs = {JobInfo{15, "BAR", "", JobState::completed}};
  r.looked.asked = {{"BAR", 13, JobState::gone}};
  b.ledger.take(r);
  EXPECT_FALSE(b.marked(lost)) << "left the queue: printed";
  ASSERT_EQ(b.queue.jobs.size(), 2U);
  EXPECT_EQ(b.queue.jobs[1].base, unnoted);
  b.handed(Outcome::accepted, 16);
  EXPECT_TRUE(b.alerts().empty());
}

TEST(Ledger, WhenTheListingFailsInARunEachJobIsFollowedByItsOwnQueryUnderItsOwnAlert) {
  Books b;
  b.keep("20191127-14380500-000001");
  b.handed(Outcome::accepted, 7);
  b.keep("20191127-14380500-000002");
  b.handed(Outcome::accepted, 8);
  b.ledger.follow_up();
  b.looked_unlisted({{"BAR", 7, JobState::completed}, {"BAR", 8, JobState::pending}});
  EXPECT_FALSE(b.marked("20191127-14380500-000001"));
  EXPECT_TRUE(b.marked("20191127-14380500-000002"));
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{
                            {"impressao-fila:bar", record::cp1252("Fila de impressão de BAR ilegível: tickets seguidos um a um")}}));

  // An aborted job is known not to print: sent again. One whose state
  // cannot be learnt is not.
  b.ledger.follow_up();
  b.looked_unlisted({{"BAR", 8, JobState::aborted}});
  ASSERT_EQ(b.queue.jobs.size(), 3U);
  b.handed(Outcome::accepted, 9);
  b.ledger.follow_up();
  b.looked_unlisted({{"BAR", 9, JobState::unknown}});
  EXPECT_EQ(b.queue.jobs.size(), 3U);
  EXPECT_EQ(b.reports.back(),
            record::cp1252("Situação desconhecida em BAR: 20191127-14380500-000002-NAO-ENTREGUE.txt !!!"));

  // Settled by hand (kav-spool): followed no more, the alert ends.
  b.store.unmark(kBar, "20191127-14380500-000002");
  b.ledger.follow_up();
  b.looked(PrinterState::ready);
  EXPECT_TRUE(b.ledger.waiting().empty());
  EXPECT_TRUE(b.alerts().empty());
}

TEST(Ledger, AnUnreadableQueueIsSaidEvenWhenTheLookThatFoundItSettledEveryTicket) {
  Books b;
  b.keep("20191127-14380500-000001");
  b.handed(Outcome::accepted, 7);
  b.ledger.follow_up();
  b.looked_unlisted({{"BAR", 7, JobState::gone}});
  EXPECT_FALSE(b.marked("20191127-14380500-000001"));
  EXPECT_TRUE(b.ledger.waiting().empty());
  const std::string unreadable = record::cp1252("Fila de impressão de BAR ilegível: tickets seguidos um a um");
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{{"impressao-fila:bar", unreadable}}));
  // Nothing followed any more: it ends at the next update, and the log has both.
  b.ledger.update_alerts();
  EXPECT_TRUE(b.alerts().empty());
  EXPECT_EQ(b.board_lines, (std::vector<std::string>{unreadable, "Resolvido: " + unreadable}));
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
