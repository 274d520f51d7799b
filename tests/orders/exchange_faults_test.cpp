// Failures the order exchange meets and survives, on the in-memory platform:
// a web server that is down, local writes that fail (the batch file, the
// pending copy of an answer, FORMPRT.PRT, the spool, a full disk), and an
// answer the page's output ran into. Each stops the run, is shown and
// logged, raises an alert, and loses no work: the next check takes it up.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "app/application.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/status.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "support/fake_web.h"
#include "support/fakes.h"
#include "support/fault_file_system.h"
#include "support/line_ends.h"
#include "ui/headless/headless_runtime.h"

namespace kav::orders {
namespace {

using record::cp1252;
using Op = test::FaultFileSystem::Op;

const std::string kOrder = cp1252(
    "<0012><000345><Mesa 05><04><João>\n"
    "<0012><000101><Filé><000002,000><0000045,90><><COZINHA>\n"
    "<0012><000201><Caipirinha><000003,000><0000018,50><><BAR>\n");
constexpr std::string_view kSpool = "C:\\OrbelaTeknovarium\\Spool\\";
constexpr std::string_view kTemp = "C:\\OrbelaTeknovarium\\Temp\\";
constexpr std::string_view kLog = "C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt";

// The whole program on memory files seen through the fault-injecting file
// system, the spooling print service and the web application in memory.
// Checks run at 5 s, 10 s, 15 s ...; `between(ms, f)` changes the world
// between them.
struct World {
  void run_until(std::int64_t stop_ms) {
    runtime.at(stop_ms, [&] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
  }
  void between(std::int64_t ms, std::function<void()> f) { runtime.at(ms, std::move(f)); }

  std::vector<std::string> tickets(std::string_view printer) {
    std::vector<std::string> names;
    for (auto& n : memory.list(std::string(kSpool) + std::string(printer), false)) {
      if (!n.ends_with(".JOB")) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> temp_files(std::string_view prefix) {
    std::vector<std::string> out;
    for (auto& n : memory.list(kTemp, false)) {
      if (n.starts_with(prefix)) out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::optional<std::string> alert(std::string_view key) {
    for (const auto& a : application.alerts().current()) {
      if (a.key == key) return a.text;
    }
    return std::nullopt;
  }
  std::vector<std::string> rows() { return runtime.last("90-COMANDAS")->rows(); }
  std::vector<std::string> rows_of_all_checks() {
    std::vector<std::string> all;
    for (const auto& r : runtime.openings()) {
      if (r.name == "90-COMANDAS") {
        for (const auto& row : r.rows()) all.emplace_back(record::trim_right(row));
      }
    }
    return all;
  }
  std::vector<std::string> log() { return test::log_texts(memory.contents(kLog), true); }

  platform::MemoryFileSystem memory;
  test::FaultFileSystem files{memory};
  platform::ManualClock clock{2019, 11, 27, 14, 38, 0};
  test::FakeCommandRunner commands;
  test::FakeWeb web{memory, commands};
  test::FakeOutlet* outlet = new test::FakeOutlet;
  kav::printing::SpoolingPrintService printing{files, clock, fcomanda_layout(),
                                                 std::unique_ptr<platform::print::PrinterOutlet>(outlet),
                                                 [](std::string_view) {}};
  test::NoKeyedFiles keyed;
  platform::Platform platform{files, clock, commands, printing, keyed};
  app::Application application{platform, "localhost"};
  ui::headless::VirtualPacer pacer{clock};
  ui::headless::HeadlessRuntime runtime{application.forms(), commands, pacer};
  World() { runtime.record_everything(); }
};

struct Faults : ::testing::Test, World {};

TEST_F(Faults, AServerThatIsDownStopsTheRunIsShownAndLoggedAndTheAlertEndsWhenItAnswers) {
  web.down = true;
  web.queue("CMD_IMP", kOrder);
  between(7000, [&] { web.down = false; });
  std::optional<std::string> while_down;
  between(6000, [&] { while_down = alert("web"); });
  run_until(11000);

  // The first check asked once and gave up: a server that is down is not "no work".
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  const std::string failure = cp1252("Falha na consulta CMD_IMP: servidor fora do ar ou conexão recusada");
  EXPECT_EQ(while_down, failure);
  const auto all = rows_of_all_checks();
  ASSERT_GE(all.size(), 2U);
  EXPECT_EQ(all[0], failure + " !!!");
  EXPECT_EQ(all[1], "Imprimir itens da Comanda = 0012");
  EXPECT_EQ(tickets("COZINHA").size(), 1U);
  EXPECT_FALSE(alert("web"));
  const auto lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), failure + " !!!"), lines.end());
}

TEST_F(Faults, ABatchFileThatCannotBeWrittenAsksNothingAndTheNextCheckDoes) {
  web.queue("CMD_IMP", kOrder);
  files.fail(Op::write, "GET_KAVCMD.BAT");
  std::size_t asked_in_first = 99;
  std::optional<std::string> disk_alert;
  between(6000, [&] {
    asked_in_first = web.requests.size();
    disk_alert = alert("disco");
  });
  run_until(11000);

  EXPECT_EQ(asked_in_first, 0U);
  const std::string failure = cp1252("Falha ao gravar GET_KAVCMD.bat: CMD_IMP não consultado");
  EXPECT_EQ(disk_alert, failure);
  const auto all = rows_of_all_checks();
  ASSERT_EQ(all.size(), 2U);
  EXPECT_EQ(all[0], failure + " !!!");
  // The next check: the disk takes the batch file again.
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  EXPECT_EQ(tickets("COZINHA").size(), 1U);
  EXPECT_FALSE(alert("disco"));
}

// The batch file is written only when its line changes, or when it has gone:
// a second CMD_IMP in a row runs the file as it stands, even with a disk
// that would refuse to write it again.
TEST_F(Faults, TheBatchFileIsWrittenOnlyWhenItsLineChanges) {
  web.queue("CMD_IMP", kOrder);
  files.fail(Op::open_output, "GET_KAVCMD.BAT", 1);  // the second write fails
  std::vector<std::string> first_check;
  int failed_writes = 0;
  int deletes = 0;
  between(6000, [&] {
    first_check = web.requests;
    failed_writes = files.failures(Op::open_output);
    // Gone between two exchanges of the same command: written again.
    web.queue("CMD_IMP", kOrder);
    commands.on_run = [&, run = commands.on_run](std::string_view line) {
      if (line.find(" DEL ") != std::string_view::npos && ++deletes == 2) {
        EXPECT_EQ(memory.remove(std::string(kTemp) + "GET_KAVCMD.bat"), platform::Status::kOk);
      }
      return run(line);
    };
  });
  run_until(10500);
  // CAN_ITE needed a new line, which the disk refused.
  EXPECT_EQ(first_check, (std::vector<std::string>{"CMD_IMP", "CMD_IMP"}));
  EXPECT_EQ(failed_writes, 1);
  EXPECT_EQ(web.requests.size(), 6U);  // then CMD_IMP twice, CAN_ITE and CMD_FEC
  EXPECT_EQ(tickets("COZINHA").size(), 2U);
}

// GET_KAVCMD.bat is held from before its run until the run has ended:
// nobody changes or replaces it while CMD.EXE reads it. One changed by
// someone else between two exchanges of the same command is written again
// before it runs; one that cannot be held is not run, as one that cannot be
// written.
TEST_F(Faults, TheBatchFileIsHeldThroughItsRunAndNotRunWhenItCannotBeHeld) {
  web.queue("CMD_IMP", kOrder);
  const std::string bat = std::string(kTemp) + "GET_KAVCMD.bat";
  int deletes = 0;
  int runs = 0;
  int held_runs = 0;
  int changed_in_runs = 0;
  commands.on_run = [&, run = commands.on_run](std::string_view line) {
    if (line.find(" DEL ") != std::string_view::npos) {
      if (++deletes == 2) memory.put(bat, "\\Users\\someone\\EVIL.EXE\r\n");
    } else {
      ++runs;
      if (memory.is_held(bat)) ++held_runs;
      std::unique_ptr<platform::File> f;
      if (memory.open(bat, platform::OpenMode::output, f).ok() || memory.remove(bat).ok() ||
          memory.rename(bat, std::string(kTemp) + "MOVED.bat").ok())
        ++changed_in_runs;
    }
    return run(line);
  };
  std::vector<std::string> first_check;
  std::optional<std::string> disk_alert;
  between(6000, [&] {
    first_check = web.requests;
    EXPECT_FALSE(memory.is_held(bat));
    files.fail(Op::hold, "GET_KAVCMD.BAT", 0, test::FaultFileSystem::kForever);
  });
  between(11000, [&] {
    disk_alert = alert("disco");
    files.clear();
  });
  run_until(15500);

  EXPECT_EQ(first_check, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  EXPECT_EQ(tickets("COZINHA").size(), 1U);
  EXPECT_EQ(held_runs, runs);
  EXPECT_EQ(changed_in_runs, 0);
  EXPECT_EQ(disk_alert, cp1252("Falha ao gravar GET_KAVCMD.bat: CMD_IMP não consultado"));
  EXPECT_EQ(web.requests.size(), 7U);  // nothing asked in the second check
  EXPECT_FALSE(alert("disco"));
}

// A WGET.EXE that is missing, a folder or a link (Windows) runs nothing: the
// alert names the path.
TEST_F(Faults, AWgetThatIsNoRegularFileIsAnAlertNamingItsPath) {
  commands.on_run = [&, run = commands.on_run](std::string_view line) {
    return line.find(" DEL ") != std::string_view::npos ? run(line) : platform::Status(platform::Status::kProgramNotFile);
  };
  run_until(5500);
  const std::string failure =
      cp1252("Falha na consulta CMD_IMP: C:\\OrbelaTeknovarium\\KAV\\WGET.EXE ausente ou inválido (pasta ou link)");
  EXPECT_EQ(alert("web"), failure);
  const auto lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), failure + " !!!"), lines.end());  // whole in the log
}

// An old answer that stays after its DEL would be read as new work.
TEST_F(Faults, AnOldAnswerThatCannotBeDeletedStopsTheRunBeforeAnythingIsAsked) {
  memory.put(test::FakeWeb::kAnswer, kOrder);  // no batch file names its command: not taken as pending
  commands.on_run = [&, run = commands.on_run](std::string_view line) {
    return line.find(" DEL ") != std::string_view::npos ? platform::Status() : run(line);
  };
  run_until(5500);
  EXPECT_TRUE(web.requests.empty());
  EXPECT_EQ(alert("disco"), cp1252("Falha ao apagar GET_KAVCMD.RET: CMD_IMP não consultado"));
  EXPECT_TRUE(tickets("COZINHA").empty());
}

// The web application has handed the order out: with no room for its
// pending copy it is not printed, asked for again, or deleted; the next
// check keeps it first, then prints it once.
TEST_F(Faults, AnAnswerThatCannotBeKeptIsNeitherPrintedNorDeletedAndIsTakenUpWhenItCan) {
  web.queue("CMD_IMP", kOrder);
  files.fail(Op::sync, "KAVPEND", 0, test::FaultFileSystem::kForever);
  std::optional<std::string> disk_alert;
  std::size_t asked_before_room = 99;
  std::string answer_before_room;
  between(6000, [&] { disk_alert = alert("disco"); });
  between(12000, [&] {  // two checks without room
    asked_before_room = web.requests.size();
    answer_before_room = memory.contents(test::FakeWeb::kAnswer);
    files.clear();
  });
  std::vector<std::string> printed_when_asked_again;
  web.on_request = [&](const std::string&) {
    if (web.requests.size() == 2) printed_when_asked_again = tickets("COZINHA");
  };
  run_until(16000);

  EXPECT_EQ(disk_alert, cp1252("Falha ao guardar a resposta CMD_IMP, Comanda = 0012 aguarda espaço em disco"));
  EXPECT_EQ(asked_before_room, 1U);
  EXPECT_EQ(answer_before_room, kOrder);
  EXPECT_EQ(printed_when_asked_again.size(), 1U) << "kept and printed before anything new was asked";
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  EXPECT_EQ(tickets("COZINHA").size(), 1U);
  EXPECT_EQ(tickets("BAR").size(), 1U);
  EXPECT_TRUE(temp_files("KAVPEND").empty());
  EXPECT_FALSE(alert("disco"));
}

// FORMPRT.PRT names each ticket's printer: written empty, the ticket would
// go to no printer. The ticket is not made, the answer stays pending, and
// the next check makes the missing ticket without doubling the first.
TEST_F(Faults, APrinterFileOrSpoolThatCannotBeWrittenLeavesTheAnswerPendingUntilItCan) {
  // The second ticket's, BAR's: FORMPRT.PRT's second write, the spool's
  // first write in BAR's folder.
  for (const auto& [path, skip] : {std::pair{"FORMPRT.PRT", 1}, std::pair{"SPOOL\\BAR", 0}}) {
    SCOPED_TRACE(path);
    World t;
    t.web.queue("CMD_IMP", kOrder);
    t.files.fail(Op::write, path, skip);
    std::vector<std::string> pending_after_first;
    t.between(7000, [&] {
      pending_after_first = t.temp_files("KAVPEND");
      t.files.clear();
    });
    t.run_until(11000);

    EXPECT_EQ(pending_after_first.size(), 1U);
    EXPECT_EQ(t.web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
    EXPECT_EQ(t.tickets("COZINHA").size(), 1U);
    ASSERT_EQ(t.tickets("BAR").size(), 1U);
    EXPECT_EQ(t.tickets("BAR")[0].substr(0, 24), t.tickets("COZINHA")[0].substr(0, 17) + "-000002");
    EXPECT_TRUE(t.temp_files("KAVPEND").empty());
    const auto all = t.rows_of_all_checks();
    const bool reported = std::any_of(all.begin(), all.end(), [](const std::string& r) {
      return r.find("Falha ao gravar") == 0 && r.ends_with(", Comanda = 0012 (CMD_IMP) fica pendente !!!");
    });
    EXPECT_TRUE(reported);
    EXPECT_FALSE(t.alert("disco"));
  }
}

// A printer whose folder cannot be made (a file of its name stands in the
// spool) stops only itself: the order's other ticket is printed, the answer
// is kept aside and alerted naming the printer and the folder, and the same
// check goes on with the next order and the other commands.
TEST_F(Faults, APrinterFolderThatCannotBeMadeStopsOnlyThatPrinter) {
  memory.put(std::string(kSpool) + "BAR", "not a folder");
  web.queue("CMD_IMP", kOrder);
  web.queue("CMD_IMP", cp1252("<0013><000346><Mesa 06><02><Ana>\n<0013><000101><Filé><000001,000><0000045,90><><COZINHA>\n"));
  std::optional<std::string> blocked;
  std::vector<std::string> requests_in_first;
  between(6000, [&] {
    blocked = alert("pasta:BAR");
    requests_in_first = web.requests;
  });
  run_until(7000);

  EXPECT_EQ(requests_in_first, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  EXPECT_EQ(tickets("COZINHA").size(), 2U);  // both orders' kitchen tickets
  EXPECT_EQ(memory.contents(std::string(kSpool) + "BAR"), "not a folder");
  EXPECT_EQ(blocked, cp1252("Impressora BAR: pasta Spool\\BAR não pôde ser criada, Comanda = 0012 (CMD_IMP) guardada em Temp"));
  EXPECT_TRUE(temp_files("KAVPEND").empty());
  EXPECT_EQ(temp_files("KAVFALHA").size(), 1U);
  EXPECT_FALSE(alert("disco"));
  const auto lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), *blocked + " !!!"), lines.end());
}

TEST_F(Faults, WithTheDiskFullNothingIsAskedAndTheAlertStandsThoughTheLogCannotBeWritten) {
  web.queue("CMD_IMP", kOrder);
  files.set_free_space(0);
  run_until(11000);
  EXPECT_TRUE(web.requests.empty());
  EXPECT_TRUE(alert("disco").has_value());
  EXPECT_EQ(memory.contents(kLog), "");
  EXPECT_EQ(rows().size(), 1U);  // shown all the same
}

TEST_F(Faults, ADamagedAnswerIsKeptAsideAndTheAlertStandsUntilTheFileIsDealtWith) {
  web.queue("CMD_IMP", "<0012><000345><Mesa 05><04><>\n<0012><000101><Bolo><000001,000><00<b>Fatal error</b>");
  web.queue("CMD_IMP", kOrder);
  std::optional<std::string> standing;
  between(7000, [&] {
    standing = alert("resposta");
    for (const auto& n : temp_files("KAVFALHA")) EXPECT_EQ(memory.remove(std::string(kTemp) + n), platform::Status::kOk);
  });
  run_until(11000);

  EXPECT_EQ(standing,
            cp1252("Comanda 0012 não impressa (CMD_IMP): item 1, valor: 'F' onde se esperava '<'"));
  EXPECT_FALSE(alert("resposta"));
  EXPECT_TRUE(temp_files("KAVPEND").empty());
  EXPECT_EQ(tickets("COZINHA").size(), 1U);  // the second order only
  const auto lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Resposta CMD_IMP guardada em Temp\\KAVFALHA-20191127-14380500-CMD_IMP.RET"),
            lines.end());
}

}  // namespace
}  // namespace kav::orders
