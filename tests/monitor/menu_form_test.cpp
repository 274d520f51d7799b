#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>
#include <utility>

#include "log/log_form.h"
#include "monitor/menu_form.h"
#include "record/cp1252.h"
#include "support/harness.h"
#include "support/line_ends.h"

namespace kav::monitor {
namespace {

using ui::headless::Event;

std::vector<Event> of(const std::vector<Event>& events, std::string_view form, std::string_view op) {
  std::vector<Event> out;
  for (const auto& e : events) {
    if (e.form == form && e.op == op) out.push_back(e);
  }
  return out;
}

const form::ControlDesign& control(const form::FormDesign& d, std::string_view name) {
  for (const auto& c : d.controls) {
    if (c.name == name) return c;
  }
  static const form::ControlDesign none;
  ADD_FAILURE() << "no control " << name;
  return none;
}

bool overlap(const form::ControlDesign& a, const form::ControlDesign& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

struct MenuDesign : ::testing::Test {
  log::LLink link;
  platform::ManualClock clock{2019, 11, 27};
  log::Alerts alerts;
  platform::MemoryFileSystem files;
  log::CheckReport report;
  MenuForm menu{link, clock, alerts, report, files};
  const form::FormDesign& d = menu.design();
};

// The controls the design names, with its values: found by name, wherever
// they stand in the form's list.
TEST_F(MenuDesign, TheDesignedControlsCarryTheirValues) {
  EXPECT_EQ(d.name, "00-MENU");
  EXPECT_EQ(d.caption, "Monitor Comandas (19.11c)");
  const auto& timer = control(d, "Cm_Timer");
  EXPECT_EQ(timer.kind, form::ControlKind::timer);
  EXPECT_EQ(timer.interval_ms, 1000);
  EXPECT_TRUE(timer.enabled);
  const auto& list = control(d, "Lv_Proc");
  EXPECT_EQ(list.kind, form::ControlKind::list);
  ASSERT_EQ(list.columns.size(), 1U);
  EXPECT_EQ(list.columns[0].title, "Status");
  EXPECT_EQ(list.columns[0].width, 500);
  EXPECT_EQ(std::pair(list.width, list.height), std::pair(518, 218));
  const auto& bar = control(d, "Cm_Progress");
  EXPECT_EQ(bar.kind, form::ControlKind::progress);
  EXPECT_EQ(std::tuple(bar.minimum, bar.maximum, bar.step, bar.position), std::tuple(0, 5, 1, 0));
  EXPECT_EQ(std::pair(bar.width, bar.height), std::pair(518, 11));
  const auto& export_button = control(d, "Bt_Confirma7");
  EXPECT_EQ(export_button.caption, "Exportar Cadastros");
  EXPECT_EQ(std::pair(export_button.width, export_button.height), std::pair(277, 55));
  const auto& exit_button = control(d, "Bt_Confirma8");
  EXPECT_EQ(exit_button.caption, "Sair");
  EXPECT_EQ(exit_button.picture, "Bt_Sair");
  EXPECT_EQ(std::pair(exit_button.width, exit_button.height), std::pair(233, 55));
  EXPECT_EQ(control(d, "Lv_Alertas").columns.at(0).title, "Alertas");
  EXPECT_EQ(control(d, "Bt_Reimprimir").caption, "Reimprimir");
}

// Everything the operator sees lies inside the window, nothing covers
// anything else, and the monitor's own additions come below the designed
// window: the alerts below its buttons, the reprint's button below the
// alerts.
TEST_F(MenuDesign, TheControlsShareTheWindowInTheirOrder) {
  std::vector<const form::ControlDesign*> shown;
  for (const auto& c : d.controls) {
    if (c.kind == form::ControlKind::timer) continue;
    EXPECT_GE(c.x, 0) << c.name;
    EXPECT_GE(c.y, 0) << c.name;
    EXPECT_LE(c.x + c.width, d.width) << c.name;
    EXPECT_LE(c.y + c.height, d.height) << c.name;
    for (const auto* other : shown) EXPECT_FALSE(overlap(c, *other)) << c.name << " covers " << other->name;
    shown.push_back(&c);
  }
  const auto below = [](const form::ControlDesign& lower, const form::ControlDesign& upper) {
    return lower.y >= upper.y + upper.height;
  };
  EXPECT_TRUE(below(control(d, "Cm_Progress"), control(d, "Lv_Proc")));
  EXPECT_TRUE(below(control(d, "Bt_Confirma7"), control(d, "Cm_Progress")));
  EXPECT_EQ(control(d, "Bt_Confirma7").y, control(d, "Bt_Confirma8").y);  // side by side
  EXPECT_LT(control(d, "Bt_Confirma7").x, control(d, "Bt_Confirma8").x);
  EXPECT_TRUE(below(control(d, "Lv_Alertas"), control(d, "Bt_Confirma8")));
  EXPECT_TRUE(below(control(d, "Bt_Reimprimir"), control(d, "Lv_Alertas")));
}

TEST(MenuFormTest, StatusLineIsTimeDashMessageInTheWholeField) {
  const std::string line = MenuForm::status_line("14380512", record::padded("Checando Comandas ...", 120));
  ASSERT_EQ(line.size(), 210U);
  EXPECT_EQ(line, record::padded("14:38:05 - Checando Comandas ...", 210));
}

TEST(MonitorCycleTest, FourTicksStepTheBarAndTheFifthChecks) {
  test::Harness h;
  h.runtime.at(4500, [&] {
    const auto* menu = h.runtime.last("00-MENU");
    EXPECT_EQ(menu->control("Cm_Progress").position, 4);
    EXPECT_TRUE(menu->rows().empty());
    EXPECT_EQ(h.runtime.count_openings("90-COMANDAS"), 0U);
  });
  h.run_until(5500);

  const auto& journal = h.runtime.journal();
  const auto steps = of(journal, "00-MENU", "step");
  ASSERT_GE(steps.size(), 5U);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(steps[static_cast<std::size_t>(i)].ms, 1000 * (i + 1));
    EXPECT_EQ(steps[static_cast<std::size_t>(i)].value, i + 1);
  }
  const auto* menu = h.runtime.last("00-MENU");
  EXPECT_EQ(menu->control("Cm_Progress").position, 0);
  ASSERT_EQ(menu->rows().size(), 1U);
  EXPECT_EQ(menu->rows()[0], record::padded("14:38:05 - Checando Comandas ...", 210));
  EXPECT_EQ(h.files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"),
            test::with_line_ends(record::padded("20191127 1438 14:38:05 - Checando Comandas ...", 120) + "\n"));

  // The row and the log line come before the order-processing form opens,
  // with the timer off from the fifth tick until that form has closed.
  std::vector<std::string> order;
  for (const auto& e : journal) {
    if ((e.ms != 5000 && e.ms != 5001) || (e.op == "timer" && e.form != "00-MENU")) continue;
    if (e.op == "row_text" || e.op == "open" || e.op == "close" || e.op == "timer") {
      order.push_back(e.form + " " + e.op + (e.op == "timer" ? (e.value ? " on" : " off") : ""));
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"00-MENU timer off", "00-MENU row_text", "99-LOG open", "99-LOG close",
                                             "90-COMANDAS open", "90-COMANDAS close", "00-MENU timer on"}));
}

TEST(MonitorCycleTest, ChecksFollowEachOtherFiveTicksAfterTheLastOneEnded) {
  test::Harness h;
  h.run_until(20'500);
  std::vector<std::int64_t> checks;
  for (const auto& e : of(h.runtime.journal(), "90-COMANDAS", "open")) checks.push_back(e.ms);
  // The order-processing form runs for 1 ms; the next tick comes a second
  // after the timer is switched on again.
  EXPECT_EQ(checks, (std::vector<std::int64_t>{5000, 10'001, 15'002, 20'003}));
  EXPECT_EQ(h.runtime.last("00-MENU")->rows().size(), 4U);
}

// A stand-in for a form that takes its time (a slow web server, a long export).
class SlowForm final : public form::Form {
 public:
  SlowForm(std::string name, platform::ManualClock& clock, std::int64_t busy_ms)
      : clock_(clock), busy_ms_(busy_ms) {
    design_.name = std::move(name);
    design_.controls.push_back({.name = "CmTimer1", .kind = form::ControlKind::timer, .interval_ms = 1});
  }
  const form::FormDesign& design() const override { return design_; }
  // Works in the background as the order processing does, taking its time
  // in a wait (what comes from outside meanwhile comes during it).
  void work_in_background() {
    design_.takes_focus = false;
    waits_ = true;
  }
  void tick(form::FormContext& ctx, std::string_view) override {
    ctx.set_timer_enabled("CmTimer1", false);
    if (waits_) {
      ctx.wait_ms(static_cast<int>(busy_ms_));
    } else {
      clock_.advance_ms(busy_ms_);
    }
    if (during) during();
    ctx.end_form();
  }
  std::function<void()> during;  // what the run does besides taking its time

 private:
  platform::ManualClock& clock_;
  std::int64_t busy_ms_;
  bool waits_ = false;
  form::FormDesign design_;
};

struct SlowMonitor {
  explicit SlowMonitor(std::int64_t check_ms, std::int64_t export_ms)
      : comandas("90-COMANDAS", clock, check_ms), exporta("01-EXPORTA", clock, export_ms) {
    forms.add(menu);
    forms.add(log_form);
    forms.add(comandas);
    forms.add(exporta);
  }
  platform::MemoryFileSystem files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 0};
  test::FakeCommandRunner commands;
  log::LLink link;
  log::Alerts alerts;
  log::CheckReport report;
  MenuForm menu{link, clock, alerts, report, files};
  log::LogForm log_form{link, files, clock};
  SlowForm comandas;
  SlowForm exporta;
  form::FormSet forms;
  ui::headless::VirtualPacer pacer{clock};
  ui::headless::HeadlessRuntime runtime{forms, commands, pacer};
  ui::headless::Recorder& instruments{runtime.record_everything()};
};

TEST(MonitorCycleTest, ACheckLongerThanTheIntervalNeverOverlapsTheNext) {
  SlowMonitor m(7000, 0);
  m.runtime.at(30'000, [&] { m.runtime.click("Bt_Confirma8"); });
  m.runtime.run("00-MENU");
  const auto opens = of(m.runtime.journal(), "90-COMANDAS", "open");
  const auto closes = of(m.runtime.journal(), "90-COMANDAS", "close");
  ASSERT_GE(opens.size(), 2U);
  EXPECT_EQ(opens[0].ms, 5000);
  EXPECT_EQ(closes[0].ms, 12'001);
  EXPECT_EQ(opens[1].ms, 12'001 + 5000);
  for (const auto& tick : of(m.runtime.journal(), "00-MENU", "tick")) {
    EXPECT_FALSE(tick.ms > opens[0].ms && tick.ms < closes[0].ms) << "tick during a check at " << tick.ms;
  }
}

TEST(MonitorCycleTest, ExportStopsPollingAndTheCountGoesOnFromTheBar) {
  SlowMonitor m(0, 60'000);
  m.runtime.at(2500, [&] { EXPECT_TRUE(m.runtime.click("Bt_Confirma7")); });
  m.runtime.at(70'000, [&] { m.runtime.click("Bt_Confirma8"); });
  m.runtime.run("00-MENU");
  const auto ticks = of(m.runtime.journal(), "00-MENU", "tick");
  // Ticks at 1 and 2 s; the export runs from 2.5 s to 62.501 s; then three
  // more ticks reach the fifth.
  ASSERT_GE(ticks.size(), 5U);
  EXPECT_EQ(ticks[1].ms, 2000);
  EXPECT_EQ(ticks[2].ms, 63'501);
  EXPECT_EQ(of(m.runtime.journal(), "90-COMANDAS", "open").at(0).ms, 65'501);
  // The export writes no status line of the monitor.
  EXPECT_EQ(m.runtime.last("00-MENU")->rows().size(), 1U);
}

TEST(MonitorCycleTest, ExitEndsTheProgramButNotWhileAFormIsOpen) {
  // An export form that waits for its own timer: while it is open the
  // monitor takes no clicks.
  SlowMonitor m(0, 0);
  m.runtime.at(1500, [&] { m.runtime.click("Bt_Confirma7"); });
  m.runtime.at(1500, [&] { EXPECT_FALSE(m.runtime.click("Bt_Confirma8")); });
  m.runtime.at(1800, [&] { EXPECT_TRUE(m.runtime.click("Bt_Confirma8")); });
  m.runtime.run("00-MENU");
  EXPECT_EQ(m.runtime.now_ms(), 1800);
  EXPECT_TRUE(m.runtime.open_forms().empty());
  EXPECT_EQ(m.runtime.events("blocked_click").size(), 1U);
  EXPECT_EQ(m.runtime.last("00-MENU")->closed_ms, 1800);
}

// "Sair" clicked during a check is taken and done once the check has ended:
// it asks, and the question holds nothing (the checks go on until "Sim").
TEST(MonitorCycleTest, ExitClickedDuringACheckAsksAfterItAndTheChecksGoOnUntilYes) {
  SlowMonitor m(3000, 0);
  m.comandas.work_in_background();
  std::vector<std::string> asked;
  m.runtime.on_question = [&](std::string_view, std::string_view text) {
    asked.push_back(record::to_utf8(text) + " " + std::to_string(m.runtime.now_ms()));
  };
  m.runtime.at(6000, [&] {
    EXPECT_EQ(m.runtime.open_forms().back(), "90-COMANDAS");
    EXPECT_EQ(m.runtime.type_command("s"), ui::headless::HeadlessRuntime::Typed::waiting);
  });
  m.runtime.at(9500, [&] { EXPECT_EQ(m.runtime.type_command("n"), ui::headless::HeadlessRuntime::Typed::answered); });
  m.runtime.at(9600, [&] { EXPECT_TRUE(m.runtime.click("Bt_Confirma8")); });
  m.runtime.at(25'000, [&] { EXPECT_TRUE(m.runtime.answer(true)); });
  m.runtime.run("00-MENU");
  // The check of 5 s ended at 8.001 s; then the question, then again at 9.6 s.
  EXPECT_EQ(asked, (std::vector<std::string>{"Parar o monitor? As comandas deixam de ser impressas. 8001",
                                             "Parar o monitor? As comandas deixam de ser impressas. 9600"}));
  EXPECT_EQ(of(m.runtime.journal(), "90-COMANDAS", "open").size(), 3U);  // at 5 s, 13 s and 21 s
  EXPECT_EQ(m.runtime.last("00-MENU")->closed_ms, 25'000);
  EXPECT_TRUE(m.runtime.events("blocked_click").empty());
}

// The rows a check reports go below its row, whatever their number: the
// list keeps its bound (the oldest rows leave in blocks) and each row lands
// where it was meant to, the check's row before its own rows.
TEST(MonitorCycleTest, ACheckReportsItsRowsBelowItsOwnAndTheListKeepsItsBound) {
  SlowMonitor m(0, 0);
  constexpr int kPerCheck = 300;
  int check = 0;
  m.comandas.during = [&] {
    ++check;
    for (int i = 0; i < kPerCheck; ++i) {
      m.report.failure("Falha " + std::to_string(check) + "." + std::to_string(i) + " !!!");
    }
  };
  m.runtime.at(41'500, [&] { m.runtime.click("Bt_Confirma8"); });
  m.runtime.run("00-MENU");
  ASSERT_EQ(check, 8);  // 8 x 301 rows: past the bound
  const auto& rows = m.runtime.last("00-MENU")->rows();
  ASSERT_LE(rows.size(), static_cast<std::size_t>(form::kListRowLimit));
  ASSERT_GT(rows.size(), static_cast<std::size_t>(kPerCheck + 1));
  const std::size_t last_check = rows.size() - kPerCheck - 1;
  EXPECT_EQ(rows[last_check].find(" - Checando Comandas ..."), 8U) << rows[last_check];
  for (int i = 0; i < kPerCheck; ++i) {
    EXPECT_EQ(rows[last_check + 1 + static_cast<std::size_t>(i)], "   Falha 8." + std::to_string(i) + " !!!");
  }
  // Every row of the list was written: none was left empty by a stale index.
  for (const auto& row : rows) EXPECT_FALSE(row.empty());
}

// ---------------------------------------------------------------------------
// Alerts

const std::vector<std::string>& alert_rows(const ui::headless::HeadlessRuntime& rt) {
  return rt.last("00-MENU")->rows("Lv_Alertas");
}

std::vector<Event> alert_events(const std::vector<Event>& journal) {
  std::vector<Event> out;
  for (const auto& e : journal) {
    if (e.form == "00-MENU" && e.control == "Lv_Alertas") out.push_back(e);
  }
  return out;
}

using Rows = std::vector<std::string>;

// Several alerts at once, one of them long and one raised from another
// thread: each shows from the next tick while it stands, a changed text
// replaces its row, an ended alert leaves; the status list and the polling
// are untouched, and the day's log has every begin, change and end.
TEST(MonitorAlertsTest, ShownFromTheNextTickWhileTheyStand) {
  test::Harness h;
  log::Alerts& alerts = h.application.alerts();
  const std::string longo = "Impressora COZINHA nao recebeu o ticket 20191127-14380500-000001 da Comanda 0012; " +
                            std::string(40, 'x');
  h.runtime.at(1500, [&] {
    alerts.raise("web", "Servidor web sem resposta !!!");
    std::thread other([&] { alerts.raise("impressora:COZINHA", longo); });
    other.join();
  });
  h.runtime.at(1999, [&] { EXPECT_TRUE(alert_rows(h.runtime).empty()); });
  h.runtime.at(2001, [&] {
    EXPECT_EQ(alert_rows(h.runtime), (Rows{"Servidor web sem resposta !!!", longo.substr(0, 106)}));
    alerts.raise("web", "Servidor web fora do ar !!!");
    alerts.raise("disco", "Disco cheio !!!");
  });
  h.runtime.at(3001, [&] {
    EXPECT_EQ(alert_rows(h.runtime),
              (Rows{"Servidor web fora do ar !!!", longo.substr(0, 106), "Disco cheio !!!"}));
    alerts.clear("web");
    alerts.clear("disco");
  });
  h.runtime.at(4001, [&] { EXPECT_EQ(alert_rows(h.runtime), (Rows{longo.substr(0, 106)})); });
  h.run_until(6500);

  // Only ticks after a change touch the list: an idle tick costs nothing.
  std::vector<std::string> seen;
  for (const auto& e : alert_events(h.runtime.journal())) {
    seen.push_back(std::to_string(e.ms) + " " + e.op + " " + std::to_string(e.value));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"2000 add_row 0", "2000 row_text 0", "2000 add_row 1", "2000 row_text 1",
                                            "2000 show_row 1", "2000 refresh 0", "3000 row_text 0", "3000 add_row 2",
                                            "3000 row_text 2", "3000 show_row 2", "3000 refresh 0",
                                            "4000 remove_row 2", "4000 remove_row 0", "4000 refresh 0"}));
  EXPECT_EQ(h.runtime.last("00-MENU")->rows().size(), 1U);  // one check, one status row
  EXPECT_EQ(h.runtime.count_openings("90-COMANDAS"), 1U);
  EXPECT_EQ(test::log_texts(h.files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"), true),
            (Rows{"Servidor web sem resposta !!!", longo.substr(0, 106), "Servidor web fora do ar !!!",
                  "Disco cheio !!!", "Resolvido: Servidor web fora do ar !!!", "Resolvido: Disco cheio !!!"}));
}

// An alert raised or ended during a check shows as soon as the check has
// closed, not a tick later.
TEST(MonitorAlertsTest, ACheckBringsItsAlertsToTheListWhenItCloses) {
  SlowMonitor m(7000, 0);
  int run = 0;
  m.comandas.during = [&] {
    if (++run == 1) {
      m.alerts.raise("web", "Servidor web sem resposta !!!");
    } else {
      m.alerts.clear("web");
    }
  };
  m.runtime.at(20'000, [&] { m.runtime.click("Bt_Confirma8"); });
  m.runtime.run("00-MENU");
  const auto events = alert_events(m.runtime.journal());
  const auto closes = of(m.runtime.journal(), "90-COMANDAS", "close");
  ASSERT_EQ(closes.size(), 2U);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().op, "add_row");
  EXPECT_EQ(events.front().ms, closes[0].ms);
  EXPECT_EQ(events.back().op, "refresh");
  EXPECT_EQ(events.back().ms, closes[1].ms);
  EXPECT_TRUE(alert_rows(m.runtime).empty());
}

// Console mode: a line when an alert begins (or changes) and when it ends,
// in the style of the status rows.
TEST(MonitorAlertsTest, ConsoleGetsALineWhenAnAlertBeginsAndEnds) {
  test::Harness h;
  std::vector<std::string> lines;
  ui::headless::print_rows(h.runtime, [&](const std::string& line) { lines.push_back(line); });
  h.runtime.at(4500, [&] { h.application.alerts().raise("web", "Servidor web sem resposta \xE0s 14:38 !!!"); });
  h.runtime.at(6500, [&] { h.application.alerts().clear("web"); });
  h.run_until(8000);
  EXPECT_EQ(lines, (Rows{"[00-MENU] Alertas: Servidor web sem resposta \u00E0s 14:38 !!!",
                         "[00-MENU] 14:38:05 - Checando Comandas ...",
                         "[00-MENU] Alertas: (fim) Servidor web sem resposta \u00E0s 14:38 !!!"}));
}

}  // namespace
}  // namespace kav::monitor
