#include <gtest/gtest.h>

#include <functional>

#include "form/form.h"
#include "platform/clock.h"
#include "support/fakes.h"
#include "ui/headless/headless_runtime.h"

namespace kav::ui::headless {
namespace {

// A form whose handlers are set by each test.
class ScriptForm final : public form::Form {
 public:
  explicit ScriptForm(std::string name, int interval_ms = 0) {
    design_.name = std::move(name);
    if (interval_ms > 0) design_.controls.push_back({.name = "T", .kind = form::ControlKind::timer, .interval_ms = interval_ms});
    design_.controls.push_back({.name = "L", .kind = form::ControlKind::list});
    design_.controls.push_back({.name = "B", .kind = form::ControlKind::button, .caption = "Botao"});
    design_.controls.push_back({.name = "F", .kind = form::ControlKind::frame, .visible = false});
  }
  const form::FormDesign& design() const override { return design_; }
  void form_open(form::FormContext& ctx) override {
    if (on_open) on_open(ctx);
  }
  void form_close(form::FormContext& ctx) override {
    closes++;
    if (on_close) on_close(ctx);
  }
  void tick(form::FormContext& ctx, std::string_view) override {
    if (on_tick) on_tick(ctx);
  }
  void click(form::FormContext& ctx, std::string_view) override {
    if (on_click) on_click(ctx);
  }
  std::function<void(form::FormContext&)> on_open, on_close, on_tick, on_click;
  int closes = 0;

 private:
  form::FormDesign design_;
};

struct RuntimeTest : ::testing::Test {
  RuntimeTest() {
    forms.add(outer);
    forms.add(inner);
  }
  platform::ManualClock clock{2020, 1, 1};
  test::FakeCommandRunner commands;
  ScriptForm outer{"00-OUTER", 1000};
  ScriptForm inner{"90-INNER", 1};
  form::FormSet forms;
  VirtualPacer pacer{clock};
  HeadlessRuntime runtime{forms, commands, pacer};
};

TEST_F(RuntimeTest, ModalCallsNestAndFindFormsIgnoringCaseAndTrailingBlanks) {
  std::vector<std::string> trace;
  outer.on_tick = [&](form::FormContext& ctx) {
    trace.push_back("outer tick");
    ctx.set_timer_enabled("T", false);
    ctx.run_form_modal("90-Inner        ");
    trace.push_back("outer resumes");
    ctx.end_form();
    trace.push_back("outer after end_form");
  };
  inner.on_tick = [&](form::FormContext& ctx) {
    trace.push_back("inner tick at " + std::to_string(runtime.now_ms()));
    EXPECT_EQ(runtime.open_forms(), (std::vector<std::string>{"00-OUTER", "90-INNER"}));
    ctx.end_form();
  };
  inner.on_close = [&](form::FormContext&) { trace.push_back("inner close"); };
  outer.on_close = [&](form::FormContext&) { trace.push_back("outer close"); };
  runtime.run("00-outer");
  EXPECT_EQ(trace, (std::vector<std::string>{"outer tick", "inner tick at 1001", "inner close", "outer resumes",
                                             "outer after end_form", "outer close"}));
  EXPECT_EQ(inner.closes, 1);
}

TEST_F(RuntimeTest, AnUnknownFormIsReportedAndTheCallerGoesOn) {
  std::string reported;
  runtime.on_error = [&](std::string_view m) { reported = m; };
  int result = 0;
  outer.on_tick = [&](form::FormContext& ctx) {
    result = ctx.run_form_modal("77-NADA   ");
    ctx.end_form();
  };
  runtime.run("00-OUTER");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(reported, "no form named \"77-NADA\"");
}

TEST_F(RuntimeTest, SwitchingATimerOnRestartsItsInterval) {
  std::vector<std::int64_t> ticks;
  outer.on_tick = [&](form::FormContext& ctx) {
    ticks.push_back(runtime.now_ms());
    if (ticks.size() == 2) {
      ctx.set_timer_enabled("T", false);
      clock.advance_ms(2500);  // busy
      ctx.set_timer_enabled("T", true);
    }
    if (ticks.size() == 4) ctx.end_form();
  };
  runtime.run("00-OUTER");
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{1000, 2000, 5500, 6500}));
}

TEST_F(RuntimeTest, RecordsRowsVisibilityProgressMessagesAndCommands) {
  commands.on_run = [](std::string_view) { return 7; };
  outer.on_tick = [&](form::FormContext& ctx) {
    ctx.set_timer_enabled("T", false);
    const int i = ctx.add_list_row("L", 1, 1);
    ctx.set_list_row_text(ctx.get_list_row("L", i), "linha   ", 1);
    ctx.set_control_visible("F", true);
    ctx.show_message_box("Fim !!!", form::kStyleInformation);
    EXPECT_EQ(ctx.run_command_line("CMD.EXE /C X.bat" + std::string(100, ' '), 0), 7);
    ctx.end_form();
  };
  std::vector<std::string> boxes;
  runtime.on_message_box = [&](std::string_view form, std::string_view text, int style) {
    boxes.push_back(std::string(form) + ":" + std::string(text) + ":" + std::to_string(style));
  };
  runtime.run("00-OUTER");
  const FormRecord* rec = runtime.last("00-OUTER");
  EXPECT_EQ(rec->rows("L"), (std::vector<std::string>{"linha   "}));
  EXPECT_TRUE(rec->control("F").visible);
  EXPECT_EQ(boxes, (std::vector<std::string>{"00-OUTER:Fim !!!:64"}));
  EXPECT_EQ(commands.lines, (std::vector<std::string>{"CMD.EXE /C X.bat"}));
  EXPECT_EQ(runtime.events("command").at(0).value, 7);
}

TEST_F(RuntimeTest, OnlyTheInnermostFormTakesClicks) {
  // The inner form stays open until the test's click on its own button.
  inner.design();
  ScriptForm waiting{"50-WAIT"};
  forms.add(waiting);
  waiting.on_click = [&](form::FormContext& ctx) { ctx.end_form(); };
  outer.on_tick = [&](form::FormContext& ctx) {
    ctx.set_timer_enabled("T", false);
    ctx.run_form_modal("50-WAIT");
    ctx.end_form();
  };
  runtime.at(1500, [&] { EXPECT_EQ(runtime.open_forms().size(), 2U); });
  runtime.at(1600, [&] { EXPECT_TRUE(runtime.click("B")); });
  runtime.run("00-OUTER");
  EXPECT_EQ(runtime.last("50-WAIT")->closed_ms, 1600);
}

TEST_F(RuntimeTest, AFormBusyInAHandlerGetsNoTicksUntilItResumes) {
  // The outer timer stays on while the inner form is open for three seconds.
  ScriptForm waiting{"50-WAIT"};
  forms.add(waiting);
  waiting.on_click = [&](form::FormContext& ctx) { ctx.end_form(); };
  int outer_ticks = 0;
  outer.on_tick = [&](form::FormContext& ctx) {
    if (++outer_ticks == 1) ctx.run_form_modal("50-WAIT");
    if (outer_ticks == 2) ctx.end_form();
  };
  runtime.at(4000, [&] { runtime.click("B"); });
  runtime.run("00-OUTER");
  const auto ticks = runtime.events("tick");
  // No tick while it was busy; the one missed interval comes late, once.
  ASSERT_EQ(ticks.size(), 2U);
  EXPECT_EQ(ticks[1].ms, 4000);
}

TEST_F(RuntimeTest, ARunThatNeverEndsHitsTheTimeLimit) {
  runtime.set_limit_ms(10'000);
  EXPECT_THROW(runtime.run("00-OUTER"), std::runtime_error);
  EXPECT_TRUE(runtime.open_forms().empty());
}

}  // namespace
}  // namespace kav::ui::headless
