// Retention: delivered tickets of earlier days go to their day's folder,
// and with logs leave past their days, a few at a check; nothing
// undelivered is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "printing/retention.h"
#include "settings/kav_settings.h"

namespace kav::printing {
namespace {

const std::string kBar = "C:\\OrbelaTeknovarium\\Spool\\BAR\\";
const std::string kRoot = "C:\\OrbelaTeknovarium\\";

struct RetentionTest : ::testing::Test {
  platform::MemoryFileSystem files;
  platform::ManualClock clock{2026, 12, 8, 20, 0, 0};
  std::vector<std::string> lines;
  // Two days, so that a few files show what a quarter's would.
  Retention retention{files, clock, RetentionRules{2, 2, true}, [this](std::string_view t) { lines.emplace_back(t); }};

  RetentionTest() {
    for (const char* folder : {"C:\\OrbelaTeknovarium", "C:\\OrbelaTeknovarium\\Spool",
                               "C:\\OrbelaTeknovarium\\Spool\\BAR"}) {
      EXPECT_TRUE(files.create_directory(folder).ok());
    }
  }

  void steps(int n) {
    for (int i = 0; i < n; ++i) retention.step();
  }
  // A printed ticket filed in its day's folder.
  void filed(const std::string& base) {
    EXPECT_TRUE(files.create_directory(kBar + base.substr(0, 8)).ok());
    files.put(kBar + base.substr(0, 8) + "\\" + base + ".txt", "printed");
  }
};

TEST_F(RetentionTest, PrintedTicketsAreFiledByDayAndOnlyThoseAndLogsPastTheirDaysLeave) {
  // Two days before 2026-12-08 is 2026-12-06: that day stays.
  for (const char* base : {"20261201-10000000-000001", "20261201-10000000-000002", "20261205-10000000-000001",
                           "20261206-10000000-000001", "20261207-10000000-000001"}) {
    filed(base);
  }
  files.put(kBar + "20261204-20000000-000001.txt", "printed, not filed yet");
  files.put(kBar + "20261207-20000000-000002.txt", "yesterday's, printed");
  files.put(kBar + "20261208-10000000-000001.txt", "today's, printed");
  files.put(kBar + "20260101-10000000-000002-NAO-ENTREGUE.txt", "old, not delivered");
  files.put(kBar + "20260101-10000000-000003.tmp", "old, being written");
  files.put(kBar + "20260101-10000000-000004.job", "12");
  files.put(kBar + "LEIA-ME.txt", "not a ticket");
  for (const char* day : {"20261205", "20261206", "20261207", "20261208"}) {
    files.put(kRoot + "LOGCMD_" + day + ".txt", "log");
  }
  files.put(kRoot + "KAVCOMANDA.LOG", "other");
  steps(3);  // the logs read, the folder read, the work

  for (const std::string& gone : {kBar + "20261201", kBar + "20261205", kRoot + "LOGCMD_20261205.txt",
                                  kBar + "20261204-20000000-000001.txt", kBar + "20261207-20000000-000002.txt"}) {
    EXPECT_FALSE(files.exists(gone)) << gone;
  }
  for (const std::string& kept :
       {kBar + "20261204\\20261204-20000000-000001.txt", kBar + "20261206\\20261206-10000000-000001.txt",
        kBar + "20261207\\20261207-20000000-000002.txt", kBar + "20261207\\20261207-10000000-000001.txt",
        kBar + "20261208-10000000-000001.txt", kBar + "20260101-10000000-000002-NAO-ENTREGUE.txt",
        kBar + "20260101-10000000-000003.tmp", kBar + "20260101-10000000-000004.job", kBar + "LEIA-ME.txt",
        kRoot + "LOGCMD_20261206.txt", kRoot + "KAVCOMANDA.LOG"}) {
    EXPECT_TRUE(files.exists(kept)) << kept;
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"Reten\xE7\xE3o: 1 log(s) com mais de 2 dias removido(s)",
                                             "Spool: 2 ticket(s) impresso(s) de BAR de dias anteriores "
                                             "arquivado(s) na pasta do dia",
                                             "Reten\xE7\xE3o: 3 ticket(s) impresso(s) de BAR com mais de 2 dias "
                                             "removido(s)"}));
  steps(5);  // nothing more today
  EXPECT_EQ(lines.size(), 3U);
}

// The newest days are kept whatever the clock says: set a year ahead it
// would otherwise take every ticket and every log.
TEST_F(RetentionTest, AClockSetFarAheadRemovesNoneOfTheNewestDays) {
  for (const char* base : {"20261205-10000000-000001", "20261206-10000000-000001", "20261207-10000000-000001"}) {
    filed(base);
  }
  for (const char* day : {"20261206", "20261207", "20261208"}) files.put(kRoot + "LOGCMD_" + day + ".txt", "log");
  clock.shift_ms(365LL * 24 * 3'600'000);
  steps(4);
  EXPECT_FALSE(files.exists(kBar + "20261205"));
  EXPECT_FALSE(files.exists(kRoot + "LOGCMD_20261206.txt"));
  for (const std::string& kept : {kBar + "20261206\\20261206-10000000-000001.txt",
                                  kBar + "20261207\\20261207-10000000-000001.txt", kRoot + "LOGCMD_20261207.txt",
                                  kRoot + "LOGCMD_20261208.txt"}) {
    EXPECT_TRUE(files.exists(kept)) << kept;
  }
}

TEST_F(RetentionTest, ADayOfManyLeavesAFewHundredAtACheckWithOneLineAtTheEnd) {
  for (int i = 0; i < 450; ++i) filed("20250101-1000" + std::to_string(1000 + i).substr(0, 4) + "-" + std::to_string(100000 + i));
  filed("20261206-10000000-000001");
  filed("20261207-10000000-000001");
  const auto left = [&] { return files.list(kBar + "20250101", false).size(); };
  steps(2);  // the logs (none) and the folder read
  EXPECT_EQ(left(), 450U);
  steps(1);
  EXPECT_EQ(left(), 450U - Retention::kStep);
  EXPECT_TRUE(lines.empty());
  steps(2);
  EXPECT_FALSE(files.exists(kBar + "20250101"));
  EXPECT_EQ(lines, (std::vector<std::string>{"Reten\xE7\xE3o: 450 ticket(s) impresso(s) de BAR com mais de 2 dias "
                                             "removido(s)"}));
}

TEST_F(RetentionTest, ADayFolderHoldingAnythingElseStaysWithIt) {
  filed("20260101-10000000-000001");
  files.put(kBar + "20260101\\nota.doc", "somebody's");
  filed("20261206-10000000-000001");
  filed("20261207-10000000-000001");
  steps(3);
  EXPECT_FALSE(files.exists(kBar + "20260101\\20260101-10000000-000001.txt"));
  EXPECT_TRUE(files.exists(kBar + "20260101\\nota.doc"));
}

TEST_F(RetentionTest, FilingAloneWhenNothingIsEverRemoved) {
  Retention keep_all{files, clock, RetentionRules{0, 0, true}, nullptr};
  files.put(kBar + "20200101-10000000-000001.txt", "years old, printed");
  files.put(kBar + "20261207-10000000-000001.txt", "yesterday's");
  files.put(kBar + "20261207-10000000-000002-NAO-ENTREGUE.txt", "yesterday's, not delivered");
  for (int i = 0; i < 3; ++i) keep_all.step();
  EXPECT_TRUE(files.exists(kBar + "20200101\\20200101-10000000-000001.txt"));
  EXPECT_TRUE(files.exists(kBar + "20261207\\20261207-10000000-000001.txt"));
  EXPECT_TRUE(files.exists(kBar + "20261207-10000000-000002-NAO-ENTREGUE.txt"));
  // The next day, what was delivered meanwhile follows.
  files.put(kBar + "20261208-10000000-000003.txt", "today's");
  clock.shift_ms(24 * 3'600'000);
  for (int i = 0; i < 3; ++i) keep_all.step();
  EXPECT_TRUE(files.exists(kBar + "20261208\\20261208-10000000-000003.txt"));
}

TEST(RetentionRulesTest, ReadFromTheIniWithTheirDefaults) {
  const auto rules = [](std::string_view text) {
    return retention_rules(settings::parse_settings(text, settings::kav_schema()));
  };
  EXPECT_EQ(rules("").ticket_days, 90);
  EXPECT_EQ(rules("").log_days, 365);
  const RetentionRules r = rules("[retencao]\ndias_tickets = 30\ndias_log = 0\n");
  EXPECT_EQ(r.ticket_days, 30);
  EXPECT_EQ(r.log_days, 0);
  EXPECT_TRUE(r.file_by_day);
}

}  // namespace
}  // namespace kav::printing
