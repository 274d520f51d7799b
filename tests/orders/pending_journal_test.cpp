// The pending answers' journal on the in-memory file system: the names it
// recognises, the copies cut short it removes at start, and the answer Wget
// left that no run kept.
#include <gtest/gtest.h>

#include <optional>

#include "orders/exchange.h"
#include "orders/pending_journal.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"

namespace kav::orders {
namespace {

constexpr std::string_view kTemp = "C:\\OrbelaTeknovarium\\Temp\\";
const std::string kCancel = "<0012><0003><000201><Caipirinha><><BAR>\n";

struct JournalTest : ::testing::Test {
  platform::MemoryFileSystem files;
  Exchange exchange{files, "localhost"};
  PendingJournal journal{files, exchange};
  WorkAreas areas;
  int stamps_given = 0;

  void put(std::string_view name, std::string contents = "x") {
    files.put(std::string(kTemp) + std::string(name), std::move(contents));
  }
  bool has(std::string_view name) { return files.exists(std::string(kTemp) + std::string(name)); }
  // GET_KAVCMD.RET as Wget left it for `command`.
  void leftover(std::string_view command, const std::string& answer) {
    files.put(kArqbatPath, batch_line("localhost", command) + "\r\n");
    files.put(kRespostaPath, answer);
  }
  PendingJournal::Leftover take(const std::vector<std::string>& pending, std::optional<Command>& command) {
    return journal.take_leftover_answer(pending, command, areas, [&] {
      ++stamps_given;
      return std::string("20191127-14380500");
    });
  }
};

TEST(PendingName, ReadsWhatTheJournalWritesAndNothingElse) {
  const std::string path = pending_path("20191127-14380012", kCloseOrder);
  EXPECT_EQ(path, "C:\\OrbelaTeknovarium\\Temp\\KAVPEND-20191127-14380012-CMD_FEC.RET");
  const auto named = parse_pending_name(path.substr(kTemp.size()));
  ASSERT_TRUE(named);
  EXPECT_EQ(named->stamp, "20191127-14380012");
  EXPECT_EQ(named->command, kCloseOrder);
  // The extension and the command in any case (a folder listed upper case).
  const auto lower = parse_pending_name("KAVPEND-20191127-14380012-can_ite.ret");
  ASSERT_TRUE(lower);
  EXPECT_EQ(lower->command, kCancelItem);
  EXPECT_EQ(lower->command.name, "CAN_ITE");
  for (const char* other : {"KAVPEND-20191127-14380012-CMD_IMP.RET.tmp", "KAVPEND-20191127-14380012-CMD_XXX.RET",
                            "KAVPEND-20191327-14380012-CMD_IMP.RET", "KAVPEND-20191127-14380012-CMD_IMP.TXT",
                            "KAVFALHA-20191127-14380012-CMD_IMP.RET", "KAVPEND-2019112-714380012-CMD_IMP.RET"}) {
    EXPECT_FALSE(parse_pending_name(other)) << other;
  }
}

TEST_F(JournalTest, ListsPendingAnswersInStampOrderAndStartRemovesOnlyCopiesCutShort) {
  put("KAVPEND-20191127-14380200-CMD_FEC.RET");
  put("KAVPEND-20191127-14380100-CMD_IMP.RET");
  put("KAVPEND-20191127-14380300-CAN_ITE.RET.tmp");
  put("KAVFALHA-20191127-14380000-CMD_IMP.RET");
  put("GET_KAVCMD.RET");
  const std::vector<std::string> listed = journal.list();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_TRUE(listed[0].find("14380100") != std::string::npos);
  EXPECT_TRUE(listed[1].find("14380200") != std::string::npos);

  journal.start();
  EXPECT_FALSE(has("KAVPEND-20191127-14380300-CAN_ITE.RET.tmp"));
  EXPECT_TRUE(has("KAVPEND-20191127-14380100-CMD_IMP.RET"));
  EXPECT_TRUE(has("KAVFALHA-20191127-14380000-CMD_IMP.RET"));
  EXPECT_TRUE(has("GET_KAVCMD.RET"));
  EXPECT_TRUE(journal.leftover_waits());
}

// The answer is kept byte for byte under the command GET_KAVCMD.bat names,
// and only then is GET_KAVCMD.RET gone; a disk without room leaves it where
// it is, still waiting, and the next try keeps it.
TEST_F(JournalTest, KeepsTheLeftoverAnswerOnceThereIsRoom) {
  journal.start();
  leftover("CAN_ITE", kCancel);
  std::optional<Command> command;
  files.set_fail_writes(true);
  EXPECT_EQ(take({}, command), PendingJournal::Leftover::not_kept);
  ASSERT_TRUE(command);
  EXPECT_EQ(*command, kCancelItem);
  EXPECT_TRUE(journal.leftover_waits());
  EXPECT_EQ(files.contents(kRespostaPath), kCancel);
  EXPECT_TRUE(journal.list().empty());

  files.set_fail_writes(false);
  EXPECT_EQ(take({}, command), PendingJournal::Leftover::kept);
  EXPECT_FALSE(journal.leftover_waits());
  EXPECT_FALSE(files.exists(kRespostaPath));
  EXPECT_EQ(journal.list(), std::vector<std::string>{"KAVPEND-20191127-14380500-CAN_ITE.RET"});
  EXPECT_EQ(files.contents(std::string(kTemp) + "KAVPEND-20191127-14380500-CAN_ITE.RET"), kCancel);
}

TEST_F(JournalTest, LeavesAloneALeftoverThatIsNoNewWork) {
  journal.start();
  std::optional<Command> command;
  // The newest pending answer itself: the run stopped before removing it.
  put("KAVPEND-20191127-14380100-CAN_ITE.RET", kCancel);
  leftover("CAN_ITE", kCancel);
  EXPECT_EQ(take(journal.list(), command), PendingJournal::Leftover::none);
  EXPECT_FALSE(files.exists(kRespostaPath));
  // An end marker, and a batch file that names no command: nothing to keep.
  leftover("CMD_IMP", "<0000>\n");
  EXPECT_EQ(take({}, command), PendingJournal::Leftover::none);
  files.put(kArqbatPath, "GARBAGE\r\n");
  files.put(kRespostaPath, kCancel);
  EXPECT_EQ(take({}, command), PendingJournal::Leftover::none);
  EXPECT_EQ(stamps_given, 0);
  EXPECT_EQ(journal.list().size(), 1u);
  EXPECT_FALSE(journal.leftover_waits());
}

// Wget ended at its time limit while writing: what it left is cut short,
// whatever its records say, and is never kept as pending.
TEST_F(JournalTest, ALeftoverCutByTheTimeLimitIsNotKept) {
  files.put(platform::kProgramCutPath, "c:\\orbelateknovarium\\temp\\get_kavcmd.bat  \n12345\n");
  journal.start();
  EXPECT_FALSE(files.exists(platform::kProgramCutPath));
  leftover("CMD_IMP", "<0012><000345><Mesa 05><04><Jo");
  std::optional<Command> command;
  EXPECT_EQ(take({}, command), PendingJournal::Leftover::cut);
  EXPECT_EQ(*command, kPrintItems);
  EXPECT_TRUE(journal.list().empty());
  EXPECT_EQ(stamps_given, 0);
}

// A power cut after the copy was synced and before its new name reached the
// disk takes GET_KAVCMD.RET too (Wget never syncs it). The copy's name seals
// its bytes: a whole copy is the answer and is kept under its stamp; one cut
// short, one of the older form (nothing tells it whole), and one whose
// answer stands intact go, as the answer is kept again from GET_KAVCMD.RET.
TEST(JournalStart, KeepsACopyKnownWholeOnlyWhenItsAnswerIsGone) {
  const std::string pending = pending_path("20191127-14380100", kCancelItem);
  const std::string sealed = copy_path(pending, kCancel);
  EXPECT_TRUE(sealed.starts_with(pending + "." + std::to_string(kCancel.size()) + "-") && sealed.ends_with(".tmp"));
  EXPECT_NE(copy_path(pending, kCancel.substr(1) + "x"), sealed);
  struct Case {
    const char* what;
    std::optional<std::string> answer_left;  // GET_KAVCMD.RET
    std::string copy_path, copy_bytes;
    bool kept;
  };
  const Case cases[] = {
      {"answer gone", std::nullopt, sealed, kCancel, true},
      {"answer emptied", std::string(), sealed, kCancel, true},
      {"answer cut short", kCancel.substr(0, 10), sealed, kCancel, true},
      {"answer intact", kCancel, sealed, kCancel, false},
      {"copy cut short", std::nullopt, sealed, kCancel.substr(0, 20), false},
      {"copy of zeros", std::nullopt, sealed, std::string(kCancel.size(), '\0'), false},
      {"copy without seal", std::nullopt, pending + ".tmp", kCancel, false},
  };
  for (const Case& c : cases) {
    platform::MemoryFileSystem files;
    Exchange exchange{files, "localhost"};
    PendingJournal journal{files, exchange};
    if (c.answer_left) files.put(kRespostaPath, *c.answer_left);
    files.put(c.copy_path, c.copy_bytes);
    journal.start();
    EXPECT_FALSE(files.exists(c.copy_path)) << c.what;
    EXPECT_EQ(files.exists(pending), c.kept) << c.what;
    if (c.kept) {
      EXPECT_EQ(files.contents(pending), kCancel) << c.what;
      EXPECT_FALSE(files.exists(kRespostaPath)) << c.what << ": what is left of the answer goes with it";
    } else {
      EXPECT_EQ(files.exists(kRespostaPath), c.answer_left.has_value()) << c.what;
    }
  }
}

}  // namespace
}  // namespace kav::orders
