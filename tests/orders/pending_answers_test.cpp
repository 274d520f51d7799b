// Answers kept until their tickets are: the order-processing form keeps an
// answer with work as pending before it prints from it, retires it when the
// spool holds its tickets, and does pending answers over first at the next
// check, without doubling a ticket already kept.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/application.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "support/fake_web.h"
#include "support/fakes.h"
#include "ui/headless/headless_runtime.h"

namespace kav::orders {
namespace {

using record::cp1252;

const std::string kOrder = cp1252(
    "<0012><000345><Mesa 05><04><João>\n"
    "<0012><000101><Filé><000002,000><0000045,90><><COZINHA>\n"
    "<0012><000201><Caipirinha><000003,000><0000018,50><><BAR>\n");
const std::string kCancel = cp1252("<0012><0003><000201><Caipirinha><><BAR>\n");
constexpr std::string_view kSpool = "C:\\OrbelaTeknovarium\\Spool\\";
constexpr std::string_view kTemp = "C:\\OrbelaTeknovarium\\Temp\\";

struct World {
  void run_until(std::int64_t stop_ms) {
    app::Application application{platform, "localhost"};
    ui::headless::VirtualPacer pacer{clock};
    ui::headless::HeadlessRuntime runtime{application.forms(), commands, pacer};
    runtime.record_everything();
    runtime.at(stop_ms, [&] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
  }
  std::vector<std::string> tickets(std::string_view printer) {
    std::vector<std::string> names;
    for (auto& n : files.list(std::string(kSpool) + std::string(printer), false)) {
      if (!n.ends_with(".JOB")) names.push_back(n);  // the job notes beside the tickets
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> pending() {
    std::vector<std::string> out;
    for (auto& n : files.list(kTemp, false)) {
      if (n.starts_with("KAVPEND")) out.push_back(n);
    }
    return out;
  }

  platform::MemoryFileSystem files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 0};
  test::FakeCommandRunner commands;
  test::FakeWeb web{files, commands};
  test::FakeOutlet* outlet = new test::FakeOutlet;
  std::vector<std::string> reports;
  kav::printing::SpoolingPrintService printing{files, clock, fcomanda_layout(), std::unique_ptr<platform::print::PrinterOutlet>(outlet),
                                                 [this](std::string_view t) { reports.emplace_back(t); }};
  test::NoKeyedFiles keyed;
  platform::Platform platform{files, clock, commands, printing, keyed};
};

struct Pending : ::testing::Test, World {};

TEST_F(Pending, AnAnswerIsKeptBeforeItIsUsedAndRetiredWhenItsTicketsAreKept) {
  web.queue("CMD_IMP", kOrder);
  std::vector<std::string> seen_while_asking_again;
  web.on_request = [&](const std::string& command) {
    if (command == "CAN_ITE") seen_while_asking_again = pending();
  };
  run_until(5500);
  EXPECT_TRUE(seen_while_asking_again.empty());
  EXPECT_TRUE(pending().empty());
  EXPECT_EQ(tickets("COZINHA"), std::vector<std::string>{"20191127-14380500-000001-NAO-ENTREGUE.TXT"});
  EXPECT_EQ(tickets("BAR"), std::vector<std::string>{"20191127-14380500-000002-NAO-ENTREGUE.TXT"});
  // The answer no longer stands in GET_KAVCMD.RET, where a later start would
  // take it for an answer never kept; an end marker stays where it was.
  EXPECT_EQ(files.contents(test::FakeWeb::kAnswer), "<0000>");
}

TEST_F(Pending, APendingAnswerIsDoneOverFirstWithoutDoublingATicketAlreadyKept) {
  // A run stopped after keeping the answer and its first ticket.
  files.put(std::string(kTemp) + "KAVPEND-20191127-14370000-CMD_IMP.RET", kOrder);
  EXPECT_EQ(files.create_directory("C:\\OrbelaTeknovarium\\Spool"), platform::Status::kOk);
  EXPECT_EQ(files.create_directory(std::string(kSpool) + "COZINHA"), platform::Status::kOk);
  files.put(std::string(kSpool) + "COZINHA\\20191127-14370000-000001-NAO-ENTREGUE.txt", "kept before");
  files.put(std::string(kSpool) + "COZINHA\\20191127-14370000-000002.tmp", "cut short");
  std::size_t requests_before_redo = 99;
  web.on_request = [&](const std::string&) {
    if (requests_before_redo == 99) requests_before_redo = tickets("BAR").size();
  };
  run_until(5500);

  EXPECT_EQ(requests_before_redo, 1U) << "the pending answer is done before anything new is asked";
  EXPECT_EQ(tickets("COZINHA"), std::vector<std::string>{"20191127-14370000-000001-NAO-ENTREGUE.TXT"});
  EXPECT_EQ(files.contents(std::string(kSpool) + "COZINHA\\20191127-14370000-000001-NAO-ENTREGUE.txt"), "kept before");
  EXPECT_EQ(tickets("BAR"), std::vector<std::string>{"20191127-14370000-000002-NAO-ENTREGUE.TXT"});
  EXPECT_TRUE(pending().empty());
  // The ticket kept before was never handed over: it goes now, as it was kept.
  ASSERT_EQ(outlet->handed.size(), 2U);
  EXPECT_EQ(outlet->handed[0].ticket, "kept before");
  EXPECT_EQ(outlet->handed[1].job.printer, "BAR");
}

TEST_F(Pending, AnAnswerWgetLeftAndNoRunKeptIsTakenOnceAtStart) {
  for (const bool already_pending : {false, true}) {
    World t;
    t.files.put(test::FakeWeb::kAnswer, kCancel);
    t.files.put(test::FakeWeb::kBatch,
                "\\OrbelaTeknovarium\\Kav\\WGET \"http://localhost/Comandas/GET_KAVCMD.php?COMANDO=CAN_ITE\"\r\n");
    if (already_pending) t.files.put(std::string(kTemp) + "KAVPEND-20191127-14370000-CAN_ITE.RET", kCancel);
    t.run_until(5500);
    EXPECT_EQ(t.tickets("BAR").size(), 1U) << already_pending;
    EXPECT_TRUE(t.pending().empty());
  }
}

// The monitor before went while Wget fetched the answer, and Wget was ended
// at its time limit: what it left is cut short, kept aside and never printed.
TEST_F(Pending, AnAnswerWgetLeftCutShortIsKeptAsideNotPrinted) {
  files.put(test::FakeWeb::kAnswer, kOrder);
  files.put(test::FakeWeb::kBatch,
            "\\OrbelaTeknovarium\\Kav\\WGET \"http://localhost/Comandas/GET_KAVCMD.php?COMANDO=CMD_IMP\"\r\n");
  files.put(std::string(platform::kProgramCutPath), "c:\\orbelateknovarium\\temp\\get_kavcmd.bat\n");
  run_until(5500);
  EXPECT_TRUE(tickets("COZINHA").empty());
  EXPECT_TRUE(pending().empty());
  EXPECT_FALSE(files.exists(platform::kProgramCutPath));
  std::vector<std::string> kept;
  for (auto& n : files.list(kTemp, false)) {
    if (n.starts_with("KAVFALHA")) kept.push_back(n);
  }
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(files.contents(std::string(kTemp) + kept[0]), kOrder);
}

// A printer whose folder cannot be made blocks only itself: its answer is
// kept aside (to be printed from there once the folder is mended), never
// replayed at every check, and the checks go on.
TEST_F(Pending, AnAnswerWhoseTicketsFolderCannotBeMadeIsKeptAsideNotReplayed) {
  web.queue("CAN_ITE", kCancel);
  EXPECT_EQ(files.create_directory("C:\\OrbelaTeknovarium\\Spool"), platform::Status::kOk);
  files.put(std::string(kSpool) + "BAR", "a file where the folder should be");
  run_until(11000);
  EXPECT_TRUE(pending().empty());
  EXPECT_TRUE(outlet->handed.empty());
  std::vector<std::string> kept;
  for (auto& n : files.list(kTemp, false)) {
    if (n.starts_with("KAVFALHA")) kept.push_back(n);
  }
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(files.contents(std::string(kTemp) + kept[0]), kCancel);
}

}  // namespace
}  // namespace kav::orders
