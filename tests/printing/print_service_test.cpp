// The print service: naming and keeping tickets in the spool folder,
// delivery and redelivery, the log's lines and the printing alerts, with the
// hand-over in the caller's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "board/alerts.h"
#include "platform/clock.h"
#include "platform/status.h"
#include "platform/line_end.h"
#include "platform/print/printer_info.h"
#include "platform/print/spool.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"

namespace kav::printing {
namespace {

using namespace platform;
using namespace platform::print;
using test::FakeOutlet;

constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";

std::string info_for(std::string_view printer) {
  return "* Orbela Teknovarium Ltda - Comanda\nPRTID        \"Impress\xe3o de Comanda\"\nPRTDRV       \"" +
         std::string(printer) + "\"\nFORMSIZE      A4\n";
}

constexpr std::string_view kBar = "C:\\OrbelaTeknovarium\\Spool\\BAR\\";

std::string base_of(const std::string& title) { return title.substr(0, title.find('@')); }

struct Service {
  MemoryFileSystem files;
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeOutlet* outlet = new test::FakeOutlet;
  std::vector<std::string> reports;
  test::FakeLayout layout;
  log::Alerts board;
  SpoolingPrintService service{files, clock, layout, std::unique_ptr<PrinterOutlet>(outlet),
                               [this](std::string_view t) { reports.emplace_back(t); }, &board};

  // The alerts that stand, by key.
  std::map<std::string, std::string> alerts() const {
    std::map<std::string, std::string> up;
    for (const auto& a : board.current()) up[a.key] = a.text;
    return up;
  }

  // One job of one TRACO line for `printer`; returns the status of close.
  platform::Status print(std::string_view printer) {
    files.put(kInfo, info_for(printer));
    EXPECT_TRUE(service.open("FCOMANDA", kInfo).ok());
    EXPECT_TRUE(service.write("TRACO   ", std::string(296, ' ')).ok());
    return service.close();
  }
};

TEST(SpoolService, TicketsAreNamedByTheClocksOwnTimeNeverTwiceTheSame) {
  Service s;
  s.print("BAR").ignore();
  s.print("BAR").ignore();  // same hundredth
  s.clock.shift_ms(-60'000);  // the clock set back a minute
  s.print("BAR").ignore();
  s.clock.shift_ms(24 * 3'600'000);  // then a day ahead
  s.print("BAR").ignore();
  ASSERT_EQ(s.outlet->handed.size(), 4U);
  std::vector<std::string> names;
  for (const auto& h : s.outlet->handed) names.push_back(base_of(h.job.title));
  EXPECT_EQ(names[0], "20191127-14380500-000001");
  EXPECT_EQ(names[1], "20191127-14380501-000002");
  EXPECT_EQ(names[2], "20191127-14370500-000003");  // the real time, not one running ahead of it
  EXPECT_EQ(names[3], "20191128-14370500-000004");
  // Handed over, not finished: the mark stays until the printer has finished.
  for (const auto& n : names) EXPECT_TRUE(s.files.exists(std::string(kBar) + n + "-NAO-ENTREGUE.txt")) << n;
  s.outlet->finish_all();
  s.service.follow_up();
  for (const auto& n : names) EXPECT_TRUE(s.files.exists(std::string(kBar) + n + ".txt")) << n;
  EXPECT_TRUE(s.service.waiting().empty());
  // Each delivery logged once, in printing order.
  std::vector<std::string> delivered;
  for (const auto& n : names) delivered.push_back("Ticket " + n + ".txt entregue em BAR");
  EXPECT_EQ(s.reports, delivered);
}

TEST(SpoolService, AnExistingTicketIsNeverOverwritten) {
  Service s;
  ASSERT_EQ(s.files.create_directory("C:\\OrbelaTeknovarium\\Spool"), platform::Status::kOk);
  ASSERT_EQ(s.files.create_directory("C:\\OrbelaTeknovarium\\Spool\\BAR"), platform::Status::kOk);
  s.files.put(std::string(kBar) + "20191127-14380500-000001-NAO-ENTREGUE.txt", "old");
  s.clock.advance_ms(100 * 60'000);  // too old to be sent again by itself
  s.print("BAR").ignore();
  EXPECT_EQ(s.files.contents(std::string(kBar) + "20191127-14380500-000001-NAO-ENTREGUE.txt"), "old");
  ASSERT_EQ(s.outlet->handed.size(), 1U);
  EXPECT_GT(base_of(s.outlet->handed[0].job.title), "20191127-14380500-000001");
}

TEST(SpoolService, ATicketThePrinterDidNotTakeStaysMarkedAndIsReported) {
  struct Case {
    Outcome outcome;
    std::string_view words;
  };
  for (const Case c : {Case{Outcome::unknown_printer, "inexistente"}, Case{Outcome::refused, "recusado"},
                       Case{Outcome::stopped, "parado"}, Case{Outcome::failed, "falha de envio"}}) {
    Service s;
    s.outlet->outcome = c.outcome;
    EXPECT_TRUE(s.print("COZINHA").ok());  // the ticket is kept
    const std::string name = "20191127-14380500-000001-NAO-ENTREGUE.txt";
    EXPECT_TRUE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\COZINHA\\" + name));
    ASSERT_EQ(s.reports.size(), 1U);
    EXPECT_EQ(s.reports[0],
              record::cp1252("Não impresso em COZINHA (") + std::string(c.words) + "): " + name + " !!!");
    EXPECT_LE(s.reports[0].size(), 106U);
  }
}

TEST(SpoolService, APausedOrUnknownPrinterIsNotAskedAndItsTicketsGoOutInOrderOnceItIsBack) {
  Service s;
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
  s.print("BAR").ignore();
  s.print("BAR").ignore();
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::unknown;
  s.print("BAR").ignore();
  EXPECT_EQ(s.outlet->submits, 0);
  EXPECT_EQ(s.outlet->refreshes, 1);  // the printers are looked up once per check
  EXPECT_EQ(s.service.waiting().size(), 3U);

  s.service.follow_up();  // still unknown: nothing is sent, nothing logged again
  EXPECT_EQ(s.outlet->submits, 0);
  const std::size_t reported = s.reports.size();

  s.outlet->printers.erase("BAR");
  s.clock.advance_ms(5'000);
  s.service.follow_up();
  ASSERT_EQ(s.outlet->handed.size(), 3U);
  for (std::size_t i = 0; i < 3; ++i) {  // three in one hundredth: each stamp its own
    EXPECT_EQ(base_of(s.outlet->handed[i].job.title),
              "20191127-1438050" + std::to_string(i) + "-00000" + std::to_string(i + 1));
  }
  EXPECT_EQ(s.reports.size(), reported + 3);  // every attempt
  EXPECT_TRUE(s.reports.back().starts_with("Reenviando 20191127-14380502-000003-NAO-ENTREGUE.txt para BAR"));
  EXPECT_TRUE(s.files.exists(std::string(kBar) + "20191127-14380500-000001-NAO-ENTREGUE.txt"));

  s.outlet->finish_all();
  s.service.follow_up();  // every success
  EXPECT_EQ(s.reports.size(), reported + 6);
  EXPECT_EQ(s.reports.back(), "Impresso em BAR: 20191127-14380502-000003.txt");
  EXPECT_TRUE(s.files.exists(std::string(kBar) + "20191127-14380500-000001.txt"));
  EXPECT_EQ(s.outlet->submits, 3);
}

TEST(SpoolService, ANewTicketWaitsBehindTheUndeliveredOnesOfItsPrinter) {
  Service s;
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
  s.print("BAR").ignore();
  s.service.follow_up();
  s.outlet->printers.erase("BAR");
  s.print("BAR").ignore();  // the printer is back within the check, before the follow-up sent the first
  EXPECT_EQ(s.outlet->submits, 0);
  s.service.follow_up();
  ASSERT_EQ(s.outlet->handed.size(), 2U);
  EXPECT_LT(s.outlet->handed[0].job.title, s.outlet->handed[1].job.title);
}

TEST(SpoolService, AnAbortedJobIsSentAgainAndAFinishedOneNeverKeepsItsMark) {
  Service s;
  s.print("BAR").ignore();
  s.outlet->states[1] = FakeOutlet::JobState::aborted;
  s.service.follow_up();  // reported, then sent again in the same check
  ASSERT_EQ(s.outlet->handed.size(), 2U);
  EXPECT_EQ(s.reports[0], record::cp1252("Não impresso em BAR (abortado): 20191127-14380500-000001-NAO-ENTREGUE.txt !!!"));
  s.outlet->states.erase(2);  // the spooler forgot the job: it left the queue printed
  s.service.follow_up();
  EXPECT_TRUE(s.files.exists(std::string(kBar) + "20191127-14380500-000001.txt"));
  EXPECT_FALSE(s.files.exists(std::string(kBar) + "20191127-14380500-000001-NAO-ENTREGUE.txt"));
}

TEST(SpoolService, TicketsOlderThanTheLimitAreKeptAndReportedOnceNotPrinted) {
  Service s;
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
  s.print("BAR").ignore();
  s.clock.advance_ms(29 * 60'000);
  s.print("BAR").ignore();
  s.outlet->printers.erase("BAR");
  s.clock.advance_ms(2 * 60'000);  // the first is 31 minutes old, the second 2
  s.service.follow_up();
  s.service.follow_up();
  ASSERT_EQ(s.outlet->handed.size(), 1U);
  EXPECT_EQ(base_of(s.outlet->handed[0].job.title).substr(0, 17), "20191127-15070500");
  int expired = 0;
  for (const auto& r : s.reports) expired += r.find("mais de 30 min") != std::string::npos;
  EXPECT_EQ(expired, 1);
  EXPECT_TRUE(s.files.exists(std::string(kBar) + "20191127-14380500-000001-NAO-ENTREGUE.txt"));
}

// Ages for the redelivery limit go by the monotonic clock for the tickets of
// this run: a clock set a day ahead neither makes a new ticket old, nor a
// clock set back an old one new. A ticket of an earlier run dated ahead of
// the clock counts as old.
TEST(SpoolService, TheAgeOfATicketIsNotFooledByAClockSetForwardOrBack) {
  const auto expiries = [](const Service& s) {
    int n = 0;
    for (const auto& r : s.reports) n += r.find("mais de 30 min") != std::string::npos;
    return n;
  };
  {
    Service s;
    s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
    s.print("BAR").ignore();
    s.clock.shift_ms(24 * 3'600'000);
    s.clock.advance_ms(60'000);
    s.outlet->printers.erase("BAR");
    s.service.follow_up();
    s.service.follow_up();
    EXPECT_EQ(s.outlet->handed.size(), 1U);  // sent again: a minute old
    EXPECT_EQ(expiries(s), 0);
  }
  {
    Service s;
    s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
    s.print("BAR").ignore();
    s.clock.advance_ms(31 * 60'000);
    s.clock.shift_ms(-3 * 3'600'000);  // its name now reads hours ahead of the clock
    s.outlet->printers.erase("BAR");
    s.service.follow_up();
    s.service.follow_up();
    EXPECT_TRUE(s.outlet->handed.empty());  // 31 minutes old all the same
    EXPECT_EQ(expiries(s), 1);
  }
  {
    Service s;
    EXPECT_TRUE(s.files.create_directory("C:\\OrbelaTeknovarium\\Spool").ok());
    EXPECT_TRUE(s.files.create_directory("C:\\OrbelaTeknovarium\\Spool\\BAR").ok());
    s.files.put(std::string(kBar) + "20191128-09000000-000001-NAO-ENTREGUE.txt", "tomorrow's");
    s.files.put(std::string(kBar) + "20191127-14300000-000001-NAO-ENTREGUE.txt", "8 minutes old");
    s.service.follow_up();
    s.service.follow_up();
    ASSERT_EQ(s.outlet->handed.size(), 1U);
    EXPECT_EQ(base_of(s.outlet->handed[0].job.title), "20191127-14300000-000001");
    EXPECT_EQ(expiries(s), 1);
  }
}

TEST(SpoolService, AWorkDoneOverMakesOnlyTheTicketsNotYetKept) {
  Service s;
  const std::string id = s.service.new_work_id();
  EXPECT_EQ(id, "20191127-14380500");
  s.service.begin_work(id);
  s.print("BAR").ignore();
  s.print("COZINHA").ignore();
  EXPECT_TRUE(s.service.end_work());
  EXPECT_EQ(base_of(s.outlet->handed[1].job.title), "20191127-14380500-000002");

  // A second service on the same files, as after a crash: the work is done
  // over, one more ticket than before.
  auto* outlet2 = new test::FakeOutlet;
  SpoolingPrintService again{s.files, s.clock, s.layout, std::unique_ptr<PrinterOutlet>(outlet2), nullptr};
  again.start({id});
  again.begin_work(id);
  s.files.put(kInfo, info_for("BAR"));
  for (const char* p : {"BAR", "COZINHA", "COPA"}) {
    s.files.put(kInfo, info_for(p));
    again.open("FCOMANDA", kInfo).ignore();
    again.write("TRACO   ", std::string(296, ' ')).ignore();
    again.close().ignore();
  }
  EXPECT_TRUE(again.end_work());
  ASSERT_EQ(outlet2->handed.size(), 1U);
  EXPECT_EQ(base_of(outlet2->handed[0].job.title), "20191127-14380500-000003");
  EXPECT_EQ(outlet2->handed[0].job.printer, "COPA");
  // New work is named after everything kept.
  EXPECT_GT(again.new_work_id(), id);
}

// A printed ticket of an earlier day leaves its printer's folder for its
// day's, and is still the same ticket: found by the reprint list, never
// made again by a work done over, its stamp never given again when the
// clock is set back to its day.
TEST(SpoolService, TicketsFiledByDayKeepTheirNamesAndTheirPlaceInTheList) {
  Service s;
  const std::string id = s.service.new_work_id();
  s.service.begin_work(id);
  s.print("BAR").ignore();
  ASSERT_TRUE(s.service.end_work());
  s.outlet->finish_all();
  s.service.follow_up();
  const std::string base = id + "-000001";
  ASSERT_TRUE(s.files.exists(std::string(kBar) + base + ".txt"));

  // The next day, a new run files it.
  s.clock.shift_ms(24 * 3'600'000);
  SpoolOptions options;
  options.retention = RetentionRules{0, 0, true};
  auto* outlet2 = new test::FakeOutlet;
  SpoolingPrintService next{s.files, s.clock, s.layout, std::unique_ptr<PrinterOutlet>(outlet2), nullptr, nullptr,
                            options};
  for (int i = 0; i < 3; ++i) next.follow_up();
  const std::string filed = std::string(kBar) + "20191127\\" + base + ".txt";
  ASSERT_TRUE(s.files.exists(filed));
  EXPECT_FALSE(s.files.exists(std::string(kBar) + base + ".txt"));

  // The same work done over (its answer was left pending): nothing made again.
  next.begin_work(id);
  s.files.put(kInfo, info_for("BAR"));
  next.open("FCOMANDA", kInfo).ignore();
  next.write("TRACO   ", std::string(296, ' ')).ignore();
  EXPECT_TRUE(next.close().ok());
  EXPECT_TRUE(next.end_work());
  EXPECT_TRUE(outlet2->handed.empty());

  // A new run with the clock set back to the very hundredth of the filed
  // ticket: another stamp.
  s.clock.shift_ms(-24 * 3'600'000);
  SpoolingPrintService third{s.files, s.clock, s.layout, std::make_unique<test::FakeOutlet>(), nullptr};
  EXPECT_GT(third.new_work_id(), id);

  // It lists the ticket among the newest, from its day's folder, with its text.
  const auto listed = third.recent(10);
  ASSERT_EQ(listed.size(), 1U);
  EXPECT_EQ(listed[0].base, base);
  EXPECT_EQ(listed[0].path(), filed);
  std::string text;
  EXPECT_TRUE(read_kept_ticket(s.files, listed[0], text));
}

TEST(SpoolService, AtStartTicketsHandedOverBeforeAreFoundByNameAndUnfinishedOnesHandled) {
  for (const bool names_listed : {true, false}) {
    SCOPED_TRACE(names_listed ? "names listed" : "names asked for job by job");
    Service s;
    s.print("BAR").ignore();   // handed over, job 1
    s.outlet->printers["COZINHA"] = FakeOutlet::PrinterState::stopped;
    s.print("COZINHA").ignore();  // never handed over
    const std::string folder = "C:\\OrbelaTeknovarium\\Spool\\COZINHA\\";
    s.files.put(folder + "20191127-14380400-000001.tmp", "cut short");  // pending work: redone
    s.files.put(folder + "20191127-14380300-000001.tmp", "cut short");  // nothing will redo it: reported

    // The same spooler, seen by a new run.
    auto* outlet2 = new test::FakeOutlet;
    outlet2->handed = s.outlet->handed;
    outlet2->states = s.outlet->states;
    outlet2->next_id = 10;
    outlet2->names_listed = names_listed;
    std::vector<std::string> reports;
    SpoolingPrintService again{s.files, s.clock, s.layout, std::unique_ptr<PrinterOutlet>(outlet2),
                               [&](std::string_view t) { reports.emplace_back(t); }};
    again.start({"20191127-14380400"});
    EXPECT_FALSE(s.files.exists(folder + "20191127-14380400-000001.tmp"));
    EXPECT_TRUE(s.files.exists(folder + "20191127-14380300-000001.tmp"));
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0], "Ticket incompleto no Spool: COZINHA\\20191127-14380300-000001.TMP !!!");
    EXPECT_EQ(again.waiting().size(), 2U);

    again.follow_up();  // BAR's job is found by its name, not sent again; COZINHA's goes now
    ASSERT_EQ(outlet2->handed.size(), 2U);
    EXPECT_EQ(outlet2->handed[1].job.printer, "COZINHA");
    outlet2->finish_all();
    again.follow_up();
    EXPECT_TRUE(again.waiting().empty());
    EXPECT_EQ(outlet2->submits, 1);
    EXPECT_EQ(outlet2->names_asked, names_listed ? 0 : 1);
  }
}

TEST(SpoolService, AfterACrashAJobNoteTellsAPrintedTicketFromOneNeverHandedOver) {
  Service s;
  s.print("BAR").ignore();
  EXPECT_EQ(s.files.contents(std::string(kBar) + "20191127-14380500-000001.job"), "1");
  // A spooler that forgets finished jobs (Windows), seen by a new run.
  auto* outlet2 = new test::FakeOutlet;
  SpoolingPrintService again{s.files, s.clock, s.layout, std::unique_ptr<PrinterOutlet>(outlet2), nullptr};
  again.follow_up();
  EXPECT_EQ(outlet2->submits, 0);
  EXPECT_TRUE(s.files.exists(std::string(kBar) + "20191127-14380500-000001.txt"));
  EXPECT_FALSE(s.files.exists(std::string(kBar) + "20191127-14380500-000001.job"));
}

TEST(SpoolService, TheLongestReportFitsTheLogLine) {
  Service s;
  s.outlet->outcome = Outcome::failed;
  s.print("ABCDEFGHIJKLMNOPQRST").ignore();
  ASSERT_EQ(s.reports.size(), 1U);
  EXPECT_LE(s.reports[0].size(), 106U);
}

TEST(SpoolService, TheTicketIsKeptAsWindows1252TextAndHandedOverWithItsSettings) {
  Service s;
  s.files.put(kInfo, info_for("COPA 1 "));  // a 19-character name and a blank would keep the blank
  s.service.open("FCOMANDA", kInfo).ignore();
  std::string rec(296, ' ');
  rec.replace(109, 16, record::cp1252("Porção de fritas"));
  s.service.write("ITECMD  ", rec).ignore();
  s.service.close().ignore();
  ASSERT_EQ(s.outlet->handed.size(), 1U);
  EXPECT_EQ(s.outlet->handed[0].job.printer, "COPA 1");  // trailing blanks are no part of the name
  EXPECT_FALSE(s.outlet->handed[0].job.page.continuous);  // no FORMKIND: sheets of FORMSIZE
  EXPECT_EQ(s.outlet->handed[0].job.page.form_size, "A4");
  const std::string path = "C:\\OrbelaTeknovarium\\Spool\\COPA 1\\20191127-14380500-000001-NAO-ENTREGUE.txt";
  const std::string kept = s.files.contents(path);
  EXPECT_EQ(kept, "Por\xe7\xe3o de fritas" + std::string(kLineEnd));
  EXPECT_EQ(kept, s.outlet->handed[0].ticket);
  EXPECT_EQ(s.service.last_ticket(), path);
}

TEST(SpoolService, ASpoolThatCannotBeWrittenStillPrintsAndSaysSo) {
  Service s;
  s.files.put(kInfo, info_for("BAR"));
  s.service.open("FCOMANDA", kInfo).ignore();
  s.service.write("TRACO", "").ignore();
  s.files.set_fail_writes(true);
  EXPECT_EQ(s.service.close(), platform::Status::kFailed);
  EXPECT_EQ(s.outlet->handed.size(), 1U);
  ASSERT_EQ(s.reports.size(), 1U);
  EXPECT_EQ(s.reports[0], "Falha ao gravar Spool de BAR !!!");
  s.files.set_fail_writes(false);
  EXPECT_FALSE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\BAR\\20191127-14380500-000001.tmp"));

  // Within a piece of work nothing is printed: the work is done again later.
  s.service.begin_work(s.service.new_work_id());
  s.files.set_fail_writes(true);
  s.print("BAR").ignore();
  s.files.set_fail_writes(false);
  EXPECT_FALSE(s.service.end_work());
  EXPECT_EQ(s.outlet->handed.size(), 1U);
}

TEST(SpoolService, StatusesOfTheThreeOperations) {
  Service s;
  EXPECT_EQ(s.service.write("TRACO", ""), platform::Status::kWriteNotOpen);
  EXPECT_EQ(s.service.close(), platform::Status::kNotOpen);
  EXPECT_EQ(s.service.open("OUTRA", kInfo), platform::Status::kBadFile);
  EXPECT_EQ(s.service.write("TRACO", ""), platform::Status::kWriteNotOpen);
  // No printer information file: the job opens for no printer, and its
  // ticket is kept and reported.
  EXPECT_EQ(s.service.open("FCOMANDA", kInfo), platform::Status::kNotFound);
  EXPECT_EQ(s.service.write("NADA    ", ""), platform::Status::kNoRecord);
  EXPECT_TRUE(s.service.write("ORBELA  ", "").ok());
  EXPECT_TRUE(s.service.close().ok());
  EXPECT_TRUE(s.outlet->handed.empty());
  EXPECT_TRUE(s.files.exists("C:\\OrbelaTeknovarium\\Spool\\%20\\20191127-14380500-000001-NAO-ENTREGUE.txt"));
  EXPECT_EQ(s.reports.size(), 1U);
}

TEST(SpoolService, AJobOpenedAgainBeforeItsCloseIsStillATicket) {
  Service s;
  s.files.put(kInfo, info_for("BAR"));
  s.service.open("FCOMANDA", kInfo).ignore();
  s.service.write("TRACO", "").ignore();
  s.service.open("FCOMANDA", kInfo).ignore();
  s.service.close().ignore();
  EXPECT_EQ(s.outlet->handed.size(), 2U);
}

TEST(SpoolAlerts, APrinterThatDidNotTakeTicketsStandsAsAnAlertUntilItCaughtUp) {
  Service s;
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
  s.print("BAR").ignore();
  s.print("COZINHA").ignore();
  s.print("BAR").ignore();
  using Alerts = std::map<std::string, std::string>;
  EXPECT_EQ(s.alerts(),
            (Alerts{{"impressao-pendente:bar", record::cp1252("Impressora BAR não recebeu tickets (parado); reenvio "
                                                              "automático ou Reimprimir > Enviar para…")}}));
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::unknown;
  s.service.follow_up();
  EXPECT_EQ(s.alerts()["impressao-pendente:bar"],
            record::cp1252("Impressora BAR não recebeu tickets (inexistente); reenvio automático ou Reimprimir > "
                           "Enviar para…"));

  s.outlet->printers.erase("BAR");
  s.service.follow_up();  // both sent again: caught up, though not printed yet
  EXPECT_EQ(s.outlet->handed.size(), 3U);
  EXPECT_TRUE(s.alerts().empty());
}

TEST(SpoolAlerts, TicketsTooOldToBeSentStandAsAnAlertUntilSettledByHand) {
  Service s;
  s.outlet->printers["BAR"] = FakeOutlet::PrinterState::stopped;
  s.print("BAR").ignore();
  s.clock.advance_ms(31 * 60'000);
  s.outlet->printers.erase("BAR");
  s.service.follow_up();
  EXPECT_EQ(s.outlet->submits, 0);
  EXPECT_EQ(s.alerts(), (std::map<std::string, std::string>{
                          {"impressao-antiga:bar", record::cp1252("Impressora BAR: tickets há mais de 30 min sem "
                                                                  "imprimir; Reimprimir > Ticket ou Enviar para…")}}));
  s.service.follow_up();
  EXPECT_EQ(s.alerts().size(), 1U);
  // kav-spool settles it while the monitor runs.
  const std::string base = std::string(kBar) + "20191127-14380500-000001";
  s.files.put(base + ".txt", s.files.contents(base + "-NAO-ENTREGUE.txt"));
  ASSERT_EQ(s.files.remove(base + "-NAO-ENTREGUE.txt"), platform::Status::kOk);
  s.service.follow_up();
  EXPECT_TRUE(s.alerts().empty());
  EXPECT_TRUE(s.service.waiting().empty());
}

TEST(SpoolAlerts, ASpoolThatCouldNotKeepATicketStandsAsAnAlertUntilOneIsKept) {
  Service s;
  s.service.begin_work(s.service.new_work_id());
  s.files.set_fail_writes(true);
  s.print("BAR").ignore();
  EXPECT_FALSE(s.service.end_work());
  EXPECT_EQ(s.alerts()["impressao-spool:bar"],
            record::cp1252("Falha ao gravar Spool de BAR !!! tickets sem imprimir; Reimprimir > Enviar para…"));
  s.files.set_fail_writes(false);
  s.service.begin_work(s.service.new_work_id());
  s.print("BAR").ignore();
  EXPECT_TRUE(s.service.end_work());
  EXPECT_TRUE(s.alerts().empty());
}

TEST(SpoolService, TheTicketsOfAWorkAreKeptTogetherWhenItEndsAndOnlyThenHandedOver) {
  Service s;
  const std::string id = s.service.new_work_id();
  s.service.begin_work(id);
  s.print("BAR").ignore();
  s.print("COZINHA").ignore();
  EXPECT_TRUE(s.files.exists(std::string(kBar) + id + "-000001.tmp"));  // written, not kept yet
  EXPECT_TRUE(s.outlet->handed.empty());
  EXPECT_TRUE(s.service.end_work());
  EXPECT_FALSE(s.files.exists(std::string(kBar) + id + "-000001.tmp"));
  EXPECT_TRUE(s.files.exists(std::string(kBar) + id + "-000001-NAO-ENTREGUE.txt"));
  EXPECT_EQ(s.outlet->handed.size(), 2U);

  // A work that never ended keeps nothing: its answer is done over.
  s.service.begin_work(s.service.new_work_id());
  s.print("BAR").ignore();
  s.service.begin_work(s.service.new_work_id());
  EXPECT_EQ(s.files.list("C:\\OrbelaTeknovarium\\Spool\\BAR", false).size(), 2U);  // the ticket and its job note
  EXPECT_EQ(s.outlet->handed.size(), 2U);
}

}  // namespace
}  // namespace kav::printing
