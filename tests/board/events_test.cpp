// The event table against the alerts the system raises, and the figures of
// the metrics file and the day's summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "board/events.h"
#include "board/metrics.h"
#include "orders/command.h"

namespace kav::log {
namespace {

TEST(EventTable, EveryAlertKindHasItsOwnPairOfIdsAndNoIdIsGivenTwice) {
  std::set<int> ids = {kEventStart, kEventEnd, kEventSummary, kEventOtherAlert, kEventOtherAlert + 1};
  std::set<std::string_view> names;
  for (const auto& e : alert_events()) {
    EXPECT_TRUE(ids.insert(e.begin_id).second) << e.name;
    EXPECT_TRUE(ids.insert(e.begin_id + 1).second) << e.name;
    EXPECT_TRUE(names.insert(e.name).second) << e.name;
    EXPECT_GE(e.begin_id, 2000) << e.name;
    EXPECT_LT(e.begin_id, 5000) << e.name;
  }
  EXPECT_EQ(names.size(), 18U);
}

TEST(EventTable, TheWindowsMessageFileHasEveryIdAndNoOther) {
  std::set<int> ids = {kEventStart, kEventEnd, kEventSummary, kEventOtherAlert, kEventOtherAlert + 1};
  for (const auto& e : alert_events()) ids.insert({e.begin_id, e.begin_id + 1});
  std::ifstream mc(std::string(KAV_SOURCE_DIR) + "/src/app/kavcomanda_events.mc");
#ifdef _WIN32
  if (!mc.is_open()) GTEST_SKIP() << "the source tree is not reachable";
#endif
  ASSERT_TRUE(mc.is_open());
  std::set<int> in_file;
  for (std::string line; std::getline(mc, line);) {
    if (line.starts_with("MessageId=")) in_file.insert(std::stoi(line.substr(10)));
  }
  EXPECT_EQ(in_file, ids);
}

TEST(EventTable, TheKeysTheSystemRaisesFindTheirKind) {
  struct Case {
    std::string key;
    int id;
  };
  const Case cases[] = {
      {std::string(alert_key::web), 3010},
      {orders::kPrintItems.page_alert(), 3020},
      {orders::kCloseOrder.page_alert(), 3020},
      {std::string(alert_key::answer_kept), 3030},
      {orders::kCancelItem.answers_limit_alert(), 3040},
      {orders::kCloseOrder.items_limit_alert("000012"), 3050},
      {std::string(alert_key::printers_limit) + "CMD_IMP.0012", 3060},
      {std::string(alert_key::disk), 4010},
      {std::string(alert_key::config), 4020},
      {std::string(alert_key::printer_waiting) + "cozinha", 2010},
      {std::string(alert_key::printer_old) + "bar", 2020},
      {std::string(alert_key::printer_state) + "cozinha", 2050},
      {std::string(alert_key::config_printers), 4030},
      {std::string(alert_key::printer_folder) + "BAR", 2060},
      {std::string(alert_key::printer_backup) + "cozinha", 2070},
      {std::string(alert_key::printer_uncertain) + "bar", 2080},
      {std::string(alert_key::link_refused) + "/root/KavComanda/OrbelaTeknovarium/Temp/FORMPRT.PRT", 4040},
      {std::string(alert_key::printer_spool) + "bar", 2030},
      {std::string(alert_key::printer_queue) + "web", 2040},  // a printer named like a kind
  };
  for (const auto& c : cases) {
    const AlertEvent* e = alert_event_of(c.key);
    ASSERT_NE(e, nullptr) << c.key;
    EXPECT_EQ(e->begin_id, c.id) << c.key;
  }
  EXPECT_EQ(alert_event_of("webx"), nullptr);
  EXPECT_EQ(alert_event_of("discos"), nullptr);
}

TEST(Metrics, MedianAndNearestRankPercentile) {
  EXPECT_DOUBLE_EQ(Metrics::median({3}), 3);
  EXPECT_DOUBLE_EQ(Metrics::median({4, 1, 3, 2}), 2.5);
  EXPECT_DOUBLE_EQ(Metrics::percentile95({5}), 5);
  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);
  EXPECT_DOUBLE_EQ(Metrics::percentile95(hundred), 95);
  hundred.push_back(1000);  // 101 values: the 96th
  EXPECT_DOUBLE_EQ(Metrics::percentile95(hundred), 96);
}

TEST(Metrics, TheTextNamesEveryKindAndEscapesPrinterNames) {
  Metrics m;
  m.delivered("CO\"ZI\\NHA", "0012", 7.5);
  m.delivered("CO\"ZI\\NHA", "0013", 40);
  m.set_waiting({{"BAR", 2}});
  const std::string text = m.render({{"impressao-pendente:bar", "x"}, {"estranho", "y"}});
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(text.find("kavcomanda_alerts_active{kind=\"printer_not_taking_tickets\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("kavcomanda_alerts_active{kind=\"disk_write_failed\"} 0\n"), std::string::npos);
  EXPECT_NE(text.find("kavcomanda_alerts_active{kind=\"other\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("kavcomanda_tickets_undelivered{printer=\"BAR\"} 2\n"), std::string::npos);
  const std::string printer = "printer=\"CO\\\"ZI\\\\NHA\"";
  EXPECT_NE(text.find("kavcomanda_ticket_delivery_seconds_bucket{" + printer + ",le=\"10\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("kavcomanda_ticket_delivery_seconds_bucket{" + printer + ",le=\"60\"} 2\n"), std::string::npos);
  EXPECT_NE(text.find("kavcomanda_ticket_delivery_seconds_sum{" + printer + "} 47.5\n"), std::string::npos);
}

TEST(Metrics, TheSummaryKeepsWithinALogLineAndStartsOver) {
  Metrics m;
  const std::string longest(60, 'P');
  m.delivered(longest, "000123", 12345.67);
  m.delivered("BAR", "0001", 3);
  const auto lines = m.take_summary();
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0], "Resumo BAR: 1 tickets, mediana 3,0 s, p95 3,0 s, mais lento 3,0 s (comanda 0001)");
  EXPECT_LE(lines[1].size(), 106U);
  EXPECT_TRUE(lines[1].ends_with("mais lento 12345,7 s (comanda 000123)")) << lines[1];
  EXPECT_TRUE(m.take_summary().empty());
}

}  // namespace
}  // namespace kav::log
