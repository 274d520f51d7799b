// The pending answers' journal on the in-memory file system: the names it
// recognises, the copies cut short it removes at start, and the answer Wget
// left that no run kept.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kav::orders
