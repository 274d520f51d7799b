// Retention: delivered tickets and logs past their days leave, a few at a
// check; nothing undelivered is touched.
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
  Retention retention{files, clock, RetentionRules{90, 365}, [this](std::string_view t) { lines.emplace_back(t); }};

  RetentionTest() {
    for (const char* folder : {"C:\\OrbelaTeknovarium", "C:\\OrbelaTeknovarium\\Spool",
                               "C:\\OrbelaTeknovarium\\Spool\\BAR"}) {
      EXPECT_TRUE(files.create_directory(folder).ok());
    }
  }

  void steps(int n) {
    for (int i = 0; i < n; ++i) retention.step();
  }
};

TEST_F(RetentionTest, OnlyDeliveredTicketsAndLogsPastTheirDaysLeave) {
  // 90 days before 2026-12-08 is 2026-09-09: that day stays.
  files.put(kBar + "20260908-20000000-000001.txt", "old, printed");
  files.put(kBar + "20260909-10000000-000001.txt", "90 days, printed");
  files.put(kBar + "20260101-10000000-000002-NAO-ENTREGUE.txt", "old, not delivered");
  files.put(kBar + "20260101-10000000-000003.tmp", "old, being written");
  files.put(kBar + "20260101-10000000-000004.job", "12");
  files.put(kBar + "LEIA-ME.txt", "not a ticket");
  files.put(kRoot + "LOGCMD_20251207.txt", "old log");
  files.put(kRoot + "LOGCMD_20251208.txt", "365 days");
  files.put(kRoot + "KAVCOMANDA.LOG", "other");
  steps(3);  // the logs read, the folder read, the removals

  EXPECT_FALSE(files.exists(kBar + "20260908-20000000-000001.txt"));
  EXPECT_FALSE(files.exists(kRoot + "LOGCMD_20251207.txt"));
  for (const std::string& kept :
       {kBar + "20260909-10000000-000001.txt", kBar + "20260101-10000000-000002-NAO-ENTREGUE.txt",
        kBar + "20260101-10000000-000003.tmp", kBar + "20260101-10000000-000004.job", kBar + "LEIA-ME.txt",
        kRoot + "LOGCMD_20251208.txt", kRoot + "KAVCOMANDA.LOG"}) {
    EXPECT_TRUE(files.exists(kept)) << kept;
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"Reten\xE7\xE3o: 1 log(s) com mais de 365 dias removido(s)",
                                             "Reten\xE7\xE3o: 1 ticket(s) impresso(s) de BAR com mais de 90 dias "
                                             "removido(s)"}));
  steps(5);  // nothing more today
  EXPECT_EQ(lines.size(), 2U);
}

TEST_F(RetentionTest, AYearLeavesAFewHundredAtACheckWithOneLineAtTheEnd) {
  for (int i = 0; i < 450; ++i) {
    files.put(kBar + "20250101-1000" + std::to_string(1000 + i).substr(0, 4) + "-" + std::to_string(100000 + i) +
                  ".txt",
              "x");
  }
  const auto left = [&] { return files.list("C:\\OrbelaTeknovarium\\Spool\\BAR", false).size(); };
  steps(2);  // the logs (none) and the folder read
  EXPECT_EQ(left(), 450U);
  steps(1);
  EXPECT_EQ(left(), 450U - Retention::kStep);
  EXPECT_TRUE(lines.empty());
  steps(2);
  EXPECT_EQ(left(), 0U);
  EXPECT_EQ(lines, (std::vector<std::string>{"Reten\xE7\xE3o: 450 ticket(s) impresso(s) de BAR com mais de 90 dias "
                                             "removido(s)"}));
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
}

}  // namespace
}  // namespace kav::printing
