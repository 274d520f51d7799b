// The monitoring of a site: events once per change of state, the metrics
// file after every check and across a restart, the day's delivery summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "board/events.h"
#include "support/monitored_site.h"

namespace kav::app {
namespace {

using test::MonitoredSite;
using Outcome = platform::print::Outcome;

std::string day_log(platform::MemoryFileSystem& files, std::string_view yyyymmdd) {
  return files.contents("C:\\OrbelaTeknovarium\\LOGCMD_" + std::string(yyyymmdd) + ".txt");
}

TEST(Monitoring, APrinterAwayAndBackGivesOneEventPairAcrossManyChecks) {
  platform::MemoryFileSystem files;
  MonitoredSite site(files);
  site.outlet->outcome = Outcome::refused;
  site.answer("COZINHA", "0012");
  for (int i = 0; i < 40; ++i) site.check();
  site.answer("COZINHA", "0013");  // the alert's text stays: no new event
  for (int i = 0; i < 40; ++i) site.check();
  site.outlet->outcome = Outcome::accepted;
  for (int i = 0; i < 10; ++i) {
    site.check();
    site.outlet->finish_all();
  }
  const auto& log = site.recorded;
  EXPECT_EQ(log.count(log::kEventStart), 1);
  ASSERT_EQ(log.count(2010), 1);
  ASSERT_EQ(log.count(2011), 1);
  const auto away = std::find_if(log.events.begin(), log.events.end(), [](const auto& e) { return e.id == 2010; });
  const auto back = std::find_if(log.events.begin(), log.events.end(), [](const auto& e) { return e.id == 2011; });
  EXPECT_LT(away, back);
  EXPECT_EQ(away->level, platform::SystemLogLevel::error);
  EXPECT_EQ(back->level, platform::SystemLogLevel::information);
  EXPECT_EQ(back->text, "Resolvido: " + away->text);
  EXPECT_EQ(log.events.size(), 3U);  // start, away, back: nothing per check
  site.monitoring.ended();
  EXPECT_EQ(log.events.back().id, log::kEventEnd);
}

TEST(Monitoring, ASystemLogThatRefusesIsSaidOnceInTheDaysLogAndTheMonitorGoesOn) {
  platform::MemoryFileSystem files;
  MonitoredSite site(files);
  site.recorded.refuse = true;
  for (int i = 0; i < 3; ++i) {
    site.board.raise("disco", "Falha ao gravar " + std::to_string(i));
    site.board.clear("disco");
    site.check();
  }
  const std::string log = day_log(files, "20191127");
  std::size_t said = 0;
  for (std::size_t at = 0; (at = log.find("Log do sistema recusou", at)) != std::string::npos; ++at) ++said;
  EXPECT_EQ(said, 1U) << log;
  EXPECT_EQ(site.recorded.count(4010), 3);  // still tried every time
  EXPECT_EQ(test::metric(files.contents(test::kMetricsFile), "kavcomanda_checks_total"), "3");
}

TEST(Monitoring, TheMetricsFileFollowsTheChecksAndItsUndeliveredCountsSurviveARestart) {
  platform::MemoryFileSystem files;
  {
    MonitoredSite site(files);
    site.answer("BAR", "0001");
    site.check();
    site.outlet->finish_all();
    site.check(5, false);
    site.outlet->outcome = Outcome::refused;  // the kitchen's printer is away
    site.answer("COZINHA", "0002");
    site.answer("COZINHA", "0003");
    site.check();
    const std::string text = files.contents(test::kMetricsFile);
    EXPECT_EQ(test::metric(text, "kavcomanda_checks_total"), "3");
    EXPECT_EQ(test::metric(text, "kavcomanda_web_exchanges_total"), "3");
    EXPECT_EQ(test::metric(text, "kavcomanda_web_exchanges_failed_total"), "1");
    EXPECT_EQ(test::metric(text, "kavcomanda_last_web_success_timestamp_seconds"),
              std::to_string(site.unix_now));
    EXPECT_EQ(test::metric(text, "kavcomanda_tickets_printed_total{printer=\"BAR\"}"), "1");
    EXPECT_EQ(test::metric(text, "kavcomanda_tickets_undelivered{printer=\"BAR\"}"), "0");
    EXPECT_EQ(test::metric(text, "kavcomanda_tickets_undelivered{printer=\"COZINHA\"}"), "2");
    EXPECT_EQ(test::metric(text, "kavcomanda_alerts_active{kind=\"printer_not_taking_tickets\"}"), "1");
    EXPECT_EQ(test::metric(text, "kavcomanda_ticket_delivery_seconds_count{printer=\"BAR\"}"), "1");
    EXPECT_EQ(text.back(), '\n');
    EXPECT_FALSE(files.exists(std::string(test::kMetricsFile) + ".tmp"));
    site.monitoring.ended();
  }
  MonitoredSite again(files);  // a restart: counters from zero, the spool's tickets still waiting
  again.outlet->outcome = Outcome::refused;
  again.check();
  const std::string text = files.contents(test::kMetricsFile);
  EXPECT_EQ(test::metric(text, "kavcomanda_checks_total"), "1");
  EXPECT_EQ(test::metric(text, "kavcomanda_tickets_undelivered{printer=\"COZINHA\"}"), "2");
  EXPECT_EQ(test::metric(text, "kavcomanda_tickets_printed_total{printer=\"BAR\"}"), "absent");
}

TEST(Monitoring, NoMetricsFolderNoFile) {
  platform::MemoryFileSystem files;
  MonitoredSite site(files);
  site.monitoring.set_metrics_folder({});
  EXPECT_EQ(files.remove(test::kMetricsFile), platform::Status::kOk);
  site.check();
  EXPECT_FALSE(files.exists(test::kMetricsFile));
}

TEST(Monitoring, TheSummaryAtMidnightMatchesTheTimesMeasured) {
  platform::MemoryFileSystem files;
  MonitoredSite site(files);
  site.clock.advance_ms(15 * 3'600'000);  // 23:00
  // Each ticket is kept, then delivered after a delay the test chooses and
  // measures from the clock.
  std::vector<double> measured;
  std::string slowest_order;
  double slowest = 0;
  for (int i = 0; i < 23; ++i) {
    char order[5];
    std::snprintf(order, sizeof order, "%04d", i + 1);
    site.answer("COZINHA", order);
    const std::int64_t kept_ms = site.clock.elapsed_ms();
    const double delay = 3 + (i * 37 % 23) * 1.5;  // 3 to 36 s, shuffled
    site.check(delay);
    site.outlet->finish_all();
    site.check(delay - 1);  // the next look finds it finished
    const double taken = static_cast<double>(site.clock.elapsed_ms() - kept_ms) / 1000;
    measured.push_back(taken);
    if (taken > slowest) {
      slowest = taken;
      slowest_order = order;
    }
  }
  site.check(3600);  // past midnight
  std::sort(measured.begin(), measured.end());
  const double median = measured[11];
  const double p95 = measured[static_cast<std::size_t>(std::ceil(0.95 * 23)) - 1];
  const auto shown = [](double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", s);
    std::string t = buf;
    std::replace(t.begin(), t.end(), '.', ',');
    return t;
  };
  const std::string expected = "Resumo COZINHA: 23 tickets, mediana " + shown(median) + ", p95 " + shown(p95) +
                               ", mais lento " + shown(slowest) + " (comanda " + slowest_order + ")";
  const std::string log = day_log(files, "20191128");
  EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
  EXPECT_EQ(site.recorded.count(log::kEventSummary), 1);
  site.monitoring.ended();  // nothing since midnight: no second summary
  EXPECT_EQ(site.recorded.count(log::kEventSummary), 1);
}

}  // namespace
}  // namespace kav::app
