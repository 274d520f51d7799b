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
#include "platform/line_end.h"
#include "platform/print/hand_over.h"
#include "platform/print/spool_store.h"
#include "platform/print/print_fakes.h"
#include "printing/ledger.h"
#include "record/cp1252.h"
#include "settings/kav_settings.h"

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
                                                                      "reenvio automático ou Reimprimir > Enviar para…")},
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
            record::cp1252("Resolvido: Impressora BAR não recebeu tickets (recusado); reenvio automático ou "
                           "Reimprimir > Enviar para…"));

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
                             record::cp1252("Impressora BAR: tickets há mais de 30 min sem imprimir; Reimprimir > "
                                            "Ticket ou Enviar para…")}}));
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
                           record::cp1252("Situação desconhecida em BAR: 20191127-14370000-000003-NAO-ENTREGUE.txt !!!"),
                           record::cp1252("Fila de impressão de BAR ilegível: tickets seguidos um a um")}));
  // One with a job that cannot be followed; one without a job, to be printed
  // again marked (no layout here: it waits for the operator).
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{
                            {"impressao-fila:bar", record::cp1252("Fila de impressão de BAR ilegível: tickets sem "
                                                                  "situação; Reimprimir > Enviar para…")},
                            {"impressao-incerta:bar",
                             record::cp1252("BAR: tickets sem situação; Reimprimir > Enviar para…")}}));

  // A new ticket is not held back behind tickets whose state is unknown.
  b.keep("20191127-14380500-000001");
  ASSERT_EQ(b.queue.jobs.size(), 1U);
  EXPECT_EQ(b.queue.jobs[0].base, "20191127-14380500-000001");
  b.handed(Outcome::accepted, 15);

  // Still unreadable: reported once only; the one still queued is followed.
  b.ledger.follow_up();
  b.looked_unlisted({{"BAR", 13, JobState::unknown}, {"BAR", 14, JobState::completed}, {"BAR", 15, JobState::pending}});
  EXPECT_EQ(b.reports.size(), 5U);
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
  // Each job followed by itself: a line in the log, once a run; no alert.
  EXPECT_TRUE(b.alerts().empty());
  EXPECT_EQ(b.reports, (std::vector<std::string>{
                           "Ticket 20191127-14380500-000001.txt entregue em BAR",
                           record::cp1252("Fila de impressão de BAR ilegível: tickets seguidos um a um")}));

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
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{
                            {"impressao-fila:bar", record::cp1252("Fila de impressão de BAR ilegível: tickets sem "
                                                                  "situação; Reimprimir > Enviar para…")}}));
  EXPECT_EQ(std::count(b.reports.begin(), b.reports.end(),
                       record::cp1252("Fila de impressão de BAR ilegível: tickets seguidos um a um")),
            1);

  // Settled by hand (kav-spool): followed no more, the alert ends.
  b.store.unmark(kBar, "20191127-14380500-000002");
  b.ledger.follow_up();
  b.looked(PrinterState::ready);
  EXPECT_TRUE(b.ledger.waiting().empty());
  EXPECT_TRUE(b.alerts().empty());
}

TEST(Ledger, AnUnreadableQueueWhoseJobsAreFollowedIsALogLineOnceARunNotAnAlert) {
  Books b;
  const std::string unreadable = record::cp1252("Fila de impressão de BAR ilegível: tickets seguidos um a um");
  for (const std::string base : {"20191127-14380500-000001", "20191127-14380500-000002"}) {
    b.keep(base);
    b.handed(Outcome::accepted, base.back() == '1' ? 7 : 8);
    b.ledger.follow_up();
    b.looked_unlisted({{"BAR", base.back() == '1' ? 7 : 8, JobState::gone}});
    EXPECT_FALSE(b.marked(base));
    EXPECT_TRUE(b.alerts().empty());
  }
  EXPECT_TRUE(b.board_lines.empty());
  EXPECT_EQ(std::count(b.reports.begin(), b.reports.end(), unreadable), 1);
}

// The alert names the order whose ticket was not kept and those still
// waiting on the printer, and what the operator can do.
TEST(Ledger, ASpoolFailureNamesTheOrdersAndStandsUntilTheFolderKeepsATicketAgain) {
  Books b;
  const std::string base = "20191127-14380500-000001";
  b.files.put(SpoolStore::path(kBar, base, true), "ticket");
  Ticket t{std::string(kBar), base, "BAR", {}};
  t.order = "0012";
  b.ledger.kept(std::move(t), "ticket");
  b.handed(Outcome::accepted, 7);
  b.ledger.spool_failed("BAR ", "0013");
  b.ledger.spool_failed("");
  b.ledger.update_alerts();
  const std::string action = record::cp1252(" sem imprimir; Reimprimir > Enviar para…");
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{
                            {"impressao-spool:", "Falha ao gravar Spool de (sem impressora) !!! tickets" + action},
                            {"impressao-spool:bar", "Falha ao gravar Spool de BAR !!! comandas 0013, 0012" + action}}));
  b.ledger.spool_kept("bar");
  b.ledger.update_alerts();
  EXPECT_EQ(b.alerts().size(), 1U);
}

// A layout that reads "Comanda NNNN" from a ticket's first line and puts a
// mark on a line of its own after it.
class OrderLines final : public platform::TicketLayout {
 public:
  bool is_form(std::string_view) const override { return true; }
  std::optional<std::vector<std::string>> lines(std::string_view, std::string_view, std::string_view) const override {
    return std::nullopt;
  }
  platform::TicketFacts facts(std::string_view ticket) const override {
    platform::TicketFacts f;
    if (ticket.starts_with("Comanda ")) f.order = std::string(ticket.substr(8, 4));
    f.possible_copy = ticket.find(platform::kPossibleCopyMark) != std::string_view::npos;
    return f;
  }
  std::string with_mark(std::string_view ticket, std::string_view mark, std::string_view line_end) const override {
    if (ticket.find(mark) != std::string_view::npos) return std::string(ticket);
    const std::size_t first = std::min(ticket.find('\n') + 1, ticket.size());
    std::string out(ticket);
    return out.insert(first, std::string(mark) + std::string(line_end));
  }
};

// The books with profiles from `ini`, the layout above, and a backup that
// records what it was given (a ticket kept for another printer).
struct AwayBooks : Books {
  explicit AwayBooks(const std::string& ini = {}) {
    if (!ini.empty()) files.put(std::string(settings::kConfigPath), ini);
    ledger.set_away_rules(PrinterProfiles(settings::read_kav_settings(files)), &layout,
                          [this](const Ticket& from, std::string_view to, std::string text) {
                            sent.push_back({from.base, std::string(to), text});
                            return "NOVO" + std::to_string(sent.size());
                          });
  }
  void keep_order(const std::string& base, const std::string& order) {
    const std::string text = "Comanda " + order + "\nitens\n";
    files.put(SpoolStore::path(kBar, base, true), text);
    Ticket t{std::string(kBar), base, "BAR", {}};
    t.order = order;
    ledger.kept(t, text);
  }
  // A look: BAR as `bar`, CAIXA as `caixa`.
  void looked_both(PrinterState bar, PrinterState caixa) {
    HandOverResult r;
    r.look = true;
    r.looked.reachable = true;
    r.looked.printers = {{"bar", bar}, {"caixa", caixa}};
    ledger.take(r);
    ledger.update_alerts();
  }
  struct Sent {
    std::string from, to, text;
  };
  std::vector<Sent> sent;
  OrderLines layout;
};

// A ticket that may have printed (its job note names no job, after a power
// cut) is printed again by the monitor, marked, at the check after the
// start's look, once; the alert names its order.
TEST(LedgerAway, ATicketOfUnknownFateIsPrintedAgainMarkedOnceAtTheNextCheck) {
  AwayBooks b;
  const std::string base = "20191127-14370000-000001";
  b.files.put(SpoolStore::path(kBar, base, true), "Comanda 0302\nitens\n");
  b.files.put(SpoolStore::note_path(kBar, base), "x7");
  platform::StampSequence stamps;
  b.ledger.start({}, stamps);
  b.ledger.follow_up();
  b.looked(PrinterState::ready);
  EXPECT_TRUE(b.queue.jobs.empty()) << "the start's look says unknown: one more look first";
  b.ledger.follow_up();
  b.looked(PrinterState::ready);
  ASSERT_EQ(b.queue.jobs.size(), 1U);
  const std::string marked =
      "Comanda 0302\n" + record::cp1252("POSSÍVEL 2ª VIA - conferir") + std::string(platform::kLineEnd) + "itens\n";
  EXPECT_EQ(b.queue.jobs[0].text, marked);
  EXPECT_EQ(b.files.contents(SpoolStore::path(kBar, base, true)), marked) << "the window shows it so";
  EXPECT_EQ(b.reports.back(), record::cp1252("Situação desconhecida; reimprimindo como POSSÍVEL 2ª VIA em BAR: "
                                             "comanda 0302, 20191127-14370000-000001-NAO-ENTREGUE.txt"));
  EXPECT_EQ(b.alerts().at("impressao-incerta:bar"),
            record::cp1252("BAR: comanda 0302 sem situação; impresso de novo com \"POSSÍVEL 2ª VIA - conferir\""));

  // Its fate unknown again (the connection dropped): never a third time.
  b.handed(Outcome::uncertain);
  for (int i = 0; i < 3; ++i) {
    b.ledger.follow_up();
    b.looked(PrinterState::ready);
  }
  EXPECT_EQ(b.queue.jobs.size(), 1U);
  EXPECT_EQ(b.alerts().at("impressao-incerta:bar"),
            record::cp1252("BAR: comanda 0302 sem situação; Reimprimir > Enviar para…"));
}

// "More than" the limit: at the limit a ticket goes as it is.
TEST(LedgerAway, ATicketHandedOverLaterThanTheLateLimitSaysSoWithTheHourOfItsOrder) {
  AwayBooks b("[impressora BAR]\nminutos_atraso = 3\n");
  b.keep_order("20191127-14380500-000001", "0012");
  b.handed(Outcome::refused);
  b.clock.advance_ms(3 * 60'000);
  b.ledger.follow_up();
  b.looked(PrinterState::ready);
  ASSERT_EQ(b.queue.jobs.size(), 2U);
  EXPECT_EQ(b.queue.jobs[1].text, "Comanda 0012\nitens\n");
  b.handed(Outcome::refused);
  b.clock.advance_ms(1000);
  b.ledger.follow_up();
  b.looked(PrinterState::ready);
  ASSERT_EQ(b.queue.jobs.size(), 3U);
  EXPECT_EQ(b.queue.jobs[2].text,
            "Comanda 0012\n" + record::cp1252("ATRASADO - pedido às 14:38") + std::string(platform::kLineEnd) + "itens\n");
  EXPECT_EQ(b.files.contents(SpoolStore::path(kBar, "20191127-14380500-000001", true)), "Comanda 0012\nitens\n")
      << "the kept ticket is left as it was";
}

// A printer away longer than its limit: its tickets go to its backup once
// each, the originals settled, the alert and the log saying where; not
// before the limit, not to a backup that is away itself.
TEST(LedgerAway, APrinterAwayPastItsLimitHasItsTicketsPrintedOnItsBackupOnce) {
  AwayBooks b("[impressora BAR]\nreserva = CAIXA\nminutos_reserva = 2\n");
  b.keep_order("20191127-14380500-000001", "0012");
  b.handed(Outcome::unknown_printer);
  b.keep_order("20191127-14380500-000002", "0013");  // waits behind the first
  EXPECT_EQ(b.queue.jobs.size(), 1U);

  b.ledger.follow_up();
  ASSERT_FALSE(b.queue.looks.empty());
  EXPECT_TRUE(b.queue.looks.back().printers.contains("CAIXA")) << "the backup's state is asked for";
  b.clock.advance_ms(2 * 60'000);
  b.looked_both(PrinterState::unknown, PrinterState::ready);
  EXPECT_TRUE(b.sent.empty()) << "within the limit";

  b.clock.advance_ms(1000);
  b.ledger.follow_up();
  b.looked_both(PrinterState::unknown, PrinterState::stopped);
  EXPECT_TRUE(b.sent.empty()) << "a backup away is not used";

  b.ledger.follow_up();
  b.looked_both(PrinterState::unknown, PrinterState::ready);
  ASSERT_EQ(b.sent.size(), 2U);
  EXPECT_EQ(b.sent[0].to, "CAIXA");
  EXPECT_EQ(b.sent[0].from, "20191127-14380500-000001");
  EXPECT_EQ(b.sent[1].from, "20191127-14380500-000002");
  EXPECT_FALSE(b.marked("20191127-14380500-000001"));
  EXPECT_FALSE(b.marked("20191127-14380500-000002"));
  EXPECT_TRUE(b.ledger.waiting().empty());
  EXPECT_EQ(b.reports[b.reports.size() - 2],
            "Enviado para CAIXA (BAR fora): BAR\\20191127-14380500-000001 como NOVO1");
  EXPECT_EQ(b.alerts(), (std::map<std::string, std::string>{
                            {"impressao-reserva:bar", "Impressora BAR fora: comandas 0012, 0013 enviada(s) para CAIXA"}}));

  // Nothing twice; a new ticket goes to BAR first, and BAR back ends the alert.
  b.ledger.follow_up();
  b.looked_both(PrinterState::unknown, PrinterState::ready);
  EXPECT_EQ(b.sent.size(), 2U);
  b.keep_order("20191127-14380500-000003", "0014");
  EXPECT_EQ(b.queue.jobs.back().job.printer, "BAR");
  b.handed(Outcome::accepted, 5);
  b.ledger.follow_up();
  b.looked_both(PrinterState::ready, PrinterState::ready);
  EXPECT_TRUE(b.alerts().empty());
}

// A ticket already printed in place of another's (on a backup) goes no
// further when that printer is away in turn.
TEST(LedgerAway, ABackupAwayItselfDoesNotPassItsTicketsOn) {
  AwayBooks b("[impressora BAR]\nreserva = CAIXA\n");
  Ticket t{std::string(kBar), "20191127-14380500-000001", "BAR", {}};
  t.rehomed = true;
  b.files.put(SpoolStore::path(kBar, t.base, true), "Comanda 0012\n");
  b.ledger.kept(t, "Comanda 0012\n");
  b.handed(Outcome::refused);
  b.clock.advance_ms(10 * 60'000);
  b.ledger.follow_up();
  b.looked_both(PrinterState::stopped, PrinterState::ready);
  EXPECT_TRUE(b.sent.empty());
  EXPECT_TRUE(b.marked(t.base));
}

TEST(LedgerAway, TheAlertsNameAtMostThreeOrders) {
  EXPECT_EQ(orders_words({}), "tickets");
  EXPECT_EQ(orders_words({"", "0012", "0012"}), "comanda 0012");
  EXPECT_EQ(orders_words({"1", "2", "3", "4", "5"}), "comandas 1, 2, 3 e mais 2");
}

}  // namespace
}  // namespace kav::printing
