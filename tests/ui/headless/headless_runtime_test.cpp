#include <gtest/gtest.h>

#include <functional>

#include "form/form.h"
#include "platform/clock.h"
#include "record/cp1252.h"
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
  // A form that works behind the operator's back, as a check.
  void work_in_background() { design_.takes_focus = false; }
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
  Recorder& instruments{runtime.record_everything()};
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
  commands.on_run = [](std::string_view) { return platform::Status::exited(7); };
  outer.on_tick = [&](form::FormContext& ctx) {
    ctx.set_timer_enabled("T", false);
    const int i = ctx.add_list_row("L", 1, 1);
    ctx.set_list_row_text(ctx.get_list_row("L", i), "linha   ", 1);
    ctx.set_control_visible("F", true);
    ctx.show_message_box("Fim !!!", form::kStyleInformation);
    EXPECT_EQ(ctx.run_command_line("CMD.EXE /C X.bat" + std::string(100, ' '), 0).exit_code(), 7);
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

// During a wait inside a handler time passes; a click meanwhile (a typed
// command too) waits for the handler, once per button; no tick arrives.
TEST_F(RuntimeTest, AWaitLetsTimePassAndAClickMeanwhileWaitsForTheHandler) {
  std::vector<std::int64_t> waited;
  int clicks = 0;
  outer.on_click = [&](form::FormContext&) { ++clicks; };
  outer.on_tick = [&](form::FormContext& ctx) {
    const std::int64_t before = runtime.now_ms();
    ctx.wait_ms(2500);  // the timer (1000 ms) stays on
    waited.push_back(runtime.now_ms() - before);
    if (waited.size() == 2) ctx.end_form();
  };
  HeadlessRuntime::Typed typed = HeadlessRuntime::Typed::pressed;
  runtime.at(1500, [&] { EXPECT_TRUE(runtime.click("B")); });
  runtime.at(2000, [&] { typed = runtime.type_command("b"); });
  runtime.run("00-OUTER");
  EXPECT_EQ(waited, (std::vector<std::int64_t>{2500, 2500}));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(typed, HeadlessRuntime::Typed::waiting);
  EXPECT_EQ(runtime.events("waiting_click").size(), 1U);
  ASSERT_EQ(runtime.events("click").size(), 1U);
  EXPECT_EQ(runtime.events("click")[0].ms, 3500);  // as soon as the handler returned
  EXPECT_TRUE(runtime.events("blocked_click").empty());
  // The second tick came after the first handler had returned, not during its wait.
  const auto ticks = runtime.events("tick");
  ASSERT_EQ(ticks.size(), 2U);
  EXPECT_EQ(ticks[1].ms, 3500);
}

// The operator's input is never lost behind a form that works in the
// background: clicks on the form below wait for the handler that runs it and
// come in order once it has returned (a click ending the form comes last and
// the rest is dropped); behind a form the operator opened they are dropped.
TEST_F(RuntimeTest, ClicksBelowABackgroundFormWaitAndBelowAnOperatorsFormAreDropped) {
  inner.work_in_background();
  ScriptForm dialog{"01-DIALOG", 1};
  forms.add(dialog);
  std::vector<std::string> seen;
  int runs = 0;
  outer.on_tick = [&](form::FormContext& ctx) {
    ctx.set_timer_enabled("T", false);
    ctx.run_form_modal(++runs == 1 ? "90-INNER" : "01-DIALOG");
    ctx.set_timer_enabled("T", runs < 2);
  };
  outer.on_click = [&](form::FormContext& ctx) {
    seen.push_back("click " + std::to_string(runtime.now_ms()));
    if (runs == 2) ctx.end_form();
  };
  inner.on_tick = dialog.on_tick = [&](form::FormContext& ctx) {
    ctx.set_timer_enabled("T", false);
    ctx.wait_ms(3000);
    ctx.end_form();
  };
  std::uint16_t key = 13;
  auto outer_form = [&]() -> form::Opening& { return *runtime.core().openings().front(); };
  runtime.at(2000, [&] {
    EXPECT_EQ(runtime.open_forms().back(), "90-INNER");
    EXPECT_TRUE(outer_form().input_waits());
    EXPECT_TRUE(outer_form().click("B"));
    EXPECT_TRUE(outer_form().key_down(key, 0));
  });
  runtime.at(6000, [&] {  // in the dialog's wait: dropped
    EXPECT_EQ(runtime.open_forms().back(), "01-DIALOG");
    EXPECT_FALSE(outer_form().click("B"));
  });
  runtime.at(9000, [&] { EXPECT_TRUE(outer_form().click("B")); });
  runtime.run("00-OUTER");
  EXPECT_EQ(key, 0);  // taken, for later
  EXPECT_EQ(seen, (std::vector<std::string>{"click 4001", "click 9000"}));
  EXPECT_EQ(runtime.events("waiting_click").size(), 1U);
  EXPECT_EQ(runtime.events("waiting_key").size(), 1U);
  EXPECT_EQ(runtime.events("blocked_click").size(), 1U);
}

// A question returns at once; its answer comes later, as a click would, and
// a box shown meanwhile closes it ("Não").
TEST_F(RuntimeTest, AQuestionHoldsNothingAndItsAnswerComesLater) {
  struct Asker final : form::Form {
    form::FormDesign d{.name = "00-ASK", .controls = {{.name = "T", .kind = form::ControlKind::timer, .interval_ms = 1000}}};
    std::vector<std::string> answers;
    int ticks = 0;
    const form::FormDesign& design() const override { return d; }
    void tick(form::FormContext& ctx, std::string_view) override {
      if (++ticks == 1) ctx.ask("Parar?", "q1");
      if (ticks == 3) ctx.ask("Parar de novo?", "q2");
      if (ticks == 4) ctx.show_message_box("Outra coisa", form::kStyleInformation);
    }
    void answer(form::FormContext& ctx, std::string_view q, bool yes) override {
      answers.push_back(std::string(q) + (yes ? " sim" : " nao"));
      if (q == "q1" && yes) return;
      if (!yes) ctx.end_form();
    }
  } asker;
  form::FormSet set;
  set.add(asker);
  HeadlessRuntime rt{set, commands, pacer};
  rt.record_everything();
  std::vector<std::string> asked;
  rt.on_question = [&](std::string_view form, std::string_view text) { asked.push_back(std::string(form) + ": " + std::string(text)); };
  rt.at(2500, [&] { EXPECT_EQ(rt.type_command("sim"), HeadlessRuntime::Typed::answered); });
  rt.run("00-ASK");
  EXPECT_EQ(asked, (std::vector<std::string>{"00-ASK: Parar?", "00-ASK: Parar de novo?"}));
  EXPECT_EQ(asker.answers, (std::vector<std::string>{"q1 sim", "q2 nao"}));
  EXPECT_EQ(asker.ticks, 4);  // the timer went on while the questions stood
  EXPECT_FALSE(rt.question_open());
}

TEST_F(RuntimeTest, ARunThatNeverEndsHitsTheTimeLimit) {
  runtime.set_limit_ms(10'000);
  EXPECT_THROW(runtime.run("00-OUTER"), std::runtime_error);
  EXPECT_TRUE(runtime.open_forms().empty());
}

// Without a recorder (console mode) nothing is kept and no limit applies: a
// run of 30 days ends only when its form ends.
TEST(UnrecordedRuntimeTest, KeepsNothingAndRunsPastAnyLimit) {
  platform::ManualClock clock{2020, 1, 1};
  test::FakeCommandRunner commands;
  ScriptForm outer{"00-OUTER", 3'600'000};
  form::FormSet forms;
  forms.add(outer);
  VirtualPacer pacer{clock};
  HeadlessRuntime runtime{forms, commands, pacer};
  int hours = 0;
  outer.on_tick = [&](form::FormContext& ctx) {
    if (++hours == 30 * 24) ctx.end_form();
  };
  EXPECT_EQ(runtime.run("00-OUTER"), 0);
  EXPECT_EQ(hours, 720);
  EXPECT_THROW(runtime.journal(), std::logic_error);
}

TEST_F(RuntimeTest, AListKeepsItsMostRecentRowsAndIndexesStayUsable) {
  outer.on_tick = [&](form::FormContext& ctx) {
    for (int i = 0; i < form::kListRowLimit + 2; ++i) {
      const int row = ctx.add_list_row("L", 1, 1);
      ctx.set_list_row_text(ctx.get_list_row("L", row), std::to_string(i), 1);
    }
    // The full list dropped its oldest rows once, for row kListRowLimit.
    EXPECT_EQ(ctx.add_list_row("L", 1, 1), form::kListRowLimit - form::kListRowDrop + 2);
    EXPECT_EQ(ctx.get_list_row("L", form::kListRowLimit - form::kListRowDrop + 3).index, -1);
    ctx.end_form();
  };
  runtime.run("00-OUTER");
  const auto& rows = runtime.last("00-OUTER")->rows("L");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(form::kListRowLimit - form::kListRowDrop + 3));
  EXPECT_EQ(rows.front(), std::to_string(form::kListRowDrop));
  EXPECT_EQ(rows[rows.size() - 2], std::to_string(form::kListRowLimit + 1));
  EXPECT_EQ(rows.back(), "");
}

TEST_F(RuntimeTest, ARemovedRowLeavesAndTheRowsAfterItMoveUp) {
  outer.on_tick = [&](form::FormContext& ctx) {
    for (const char* text : {"a", "b", "c"}) ctx.set_list_row_text(ctx.get_list_row("L", ctx.add_list_row("L", 1, 1)), text, 1);
    ctx.remove_list_row(ctx.get_list_row("L", 1));
    ctx.remove_list_row(ctx.get_list_row("L", 2));   // no such row any more: nothing
    ctx.remove_list_row(form::ListRow{"L", -1});
    ctx.set_list_row_text(ctx.get_list_row("L", 1), "c2", 1);
    EXPECT_EQ(ctx.add_list_row("L", 1, 1), 2);
    ctx.end_form();
  };
  runtime.run("00-OUTER");
  EXPECT_EQ(runtime.last("00-OUTER")->rows("L"), (std::vector<std::string>{"a", "c2", ""}));
  const auto removed = runtime.events("remove_row");
  ASSERT_EQ(removed.size(), 1U);
  EXPECT_EQ(removed[0].text, "b");
  EXPECT_EQ(removed[0].value, 1);
}

// The failure rules of the form contract: reported, and the program goes on.
TEST_F(RuntimeTest, AnUnknownControlIsReportedOnceAndDoesNothing) {
  std::vector<std::string> errors;
  runtime.on_error = [&](std::string_view m) { errors.emplace_back(m); };
  int progress = -5, row = -5;
  outer.on_tick = [&](form::FormContext& ctx) {
    for (int i = 0; i < 2; ++i) {
      ctx.set_timer_enabled("Cm_Nada", true);
      ctx.step_progress("L");  // a list is no progress bar
      progress = ctx.get_progress_value("Cm_Nada");
      row = ctx.add_list_row("B", 1, 1);
      ctx.set_control_visible("T", false);  // a timer is not drawn
    }
    ctx.end_form();
  };
  runtime.run("00-OUTER");
  EXPECT_EQ(progress, 0);
  EXPECT_EQ(row, -1);
  EXPECT_EQ(errors, (std::vector<std::string>{
                        "form 00-OUTER has no control of that kind named \"Cm_Nada\"",
                        "form 00-OUTER has no control of that kind named \"L\"",
                        "form 00-OUTER has no control of that kind named \"B\"",
                        "form 00-OUTER has no control of that kind named \"T\"",
                    }));
  EXPECT_TRUE(runtime.last("00-OUTER")->rows("L").empty());
}

TEST_F(RuntimeTest, AFailingCalledFormIsReportedAndClosedSoItsCallerGoesOn) {
  std::vector<std::string> errors;
  runtime.on_error = [&](std::string_view m) { errors.emplace_back(m); };
  std::vector<std::string> boxes;
  runtime.on_message_box = [&](std::string_view form, std::string_view text, int style) {
    boxes.push_back(std::string(form) + ":" + record::to_utf8(text) + ":" + std::to_string(style));
  };
  int outer_ticks = 0;
  outer.on_tick = [&](form::FormContext& ctx) {
    ctx.set_timer_enabled("T", false);
    if (++outer_ticks == 1) throw std::runtime_error("disco cheio");  // the start form stays open
    ctx.run_form_modal("90-INNER");
    ctx.end_form();
  };
  outer.on_open = [&](form::FormContext& ctx) { ctx.set_timer_enabled("T", true); };
  inner.on_tick = [&](form::FormContext& ctx) {
    ctx.set_timer_enabled("T", false);
    throw std::runtime_error("sem papel");
  };
  // The start form's timer was switched off before it failed; the operator
  // goes on with a click.
  runtime.at(5000, [&] { outer.on_click = [&](form::FormContext& ctx) { ctx.set_timer_enabled("T", true); }; });
  runtime.at(5000, [&] { runtime.click("B"); });
  EXPECT_EQ(runtime.run("00-OUTER"), 0);
  EXPECT_EQ(outer_ticks, 2);
  EXPECT_EQ(inner.closes, 1);
  EXPECT_EQ(errors, (std::vector<std::string>{"form 00-OUTER: a handler failed: disco cheio",
                                              "form 90-INNER: a handler failed: sem papel"}));
  EXPECT_EQ(boxes, (std::vector<std::string>{"00-OUTER:Erro no formulário 00-OUTER !!!:16",
                                             "90-INNER:Erro no formulário 90-INNER !!!:16"}));
}

// A pacer on the virtual clock that is asked to stop at a given time.
class StoppingPacer final : public Pacer {
 public:
  StoppingPacer(platform::ManualClock& clock, std::int64_t stop_ms) : virtual_(clock), stop_ms_(stop_ms) {}
  std::int64_t now_ms() override { return virtual_.now_ms(); }
  std::optional<std::string> wait(std::int64_t deadline_ms) override {
    if (now_ms() < stop_ms_ && (deadline_ms < 0 || deadline_ms > stop_ms_)) deadline_ms = stop_ms_;
    return virtual_.wait(deadline_ms);
  }
  bool is_virtual() const override { return true; }
  bool stop_requested() const override { return stop_ms_ <= const_cast<VirtualPacer&>(virtual_).now_ms(); }

 private:
  VirtualPacer virtual_;
  std::int64_t stop_ms_;
};

TEST_F(RuntimeTest, AStopFromOutsideEndsTheStartFormOnceNoOtherFormIsOpen) {
  ScriptForm waiting{"50-WAIT", 4000};
  forms.add(waiting);
  waiting.on_tick = [&](form::FormContext& ctx) { ctx.end_form(); };
  outer.on_tick = [&](form::FormContext& ctx) {
    ctx.set_timer_enabled("T", false);
    ctx.run_form_modal("50-WAIT");  // open from 1000 to 5000
    ctx.set_timer_enabled("T", true);
  };
  StoppingPacer stopping{clock, 2500};
  HeadlessRuntime rt{forms, commands, stopping};
  Recorder& recorder = rt.record_everything();
  rt.run("00-OUTER");
  EXPECT_EQ(outer.closes, 1);
  EXPECT_EQ(recorder.last("50-WAIT")->closed_ms, 5000);
  EXPECT_EQ(recorder.last("00-OUTER")->closed_ms, 5000);
  ASSERT_EQ(recorder.events("stop").size(), 1U);
}

// Console commands are whole words: the first letter or the first word of a
// button's caption; "exit" and "sim" press nothing.
TEST_F(RuntimeTest, TypedCommandsAreWholeWordsOfTheInnermostFormsButtons) {
  struct Menu final : form::Form {
    form::FormDesign d{.name = "00-MENU",
                       .caption = "M",
                       .width = 0,
                       .height = 0,
                       .controls = {{.name = "Bt_Confirma7", .kind = form::ControlKind::button,
                                     .caption = "Exportar Cadastros"},
                                    {.name = "Bt_Confirma8", .kind = form::ControlKind::button, .caption = "Sair"}}};
    const form::FormDesign& design() const override { return d; }
    void click(form::FormContext& ctx, std::string_view b) override {
      clicks.emplace_back(b);
      if (b == "Bt_Confirma7") ctx.run_form_modal("90-INNER");
      if (b == "Bt_Confirma8") ctx.end_form();
    }
    std::vector<std::string> clicks;
  } menu;
  form::FormSet set;
  set.add(menu);
  set.add(inner);
  HeadlessRuntime rt{set, commands, pacer};
  using T = HeadlessRuntime::Typed;
  std::vector<T> typed, while_busy;
  inner.on_tick = [&](form::FormContext& ctx) {
    while_busy.push_back(rt.type_command("s"));
    ctx.end_form();
  };
  rt.at(10, [&] {
    EXPECT_EQ(rt.commands_help(), "e ou exportar = \"Exportar Cadastros\", s ou sair = \"Sair\"");
    for (const char* line : {"exit", "sim", "", "ex", "e", "exportar", " Exportar \r", "SAIR"}) {
      typed.push_back(rt.type_command(line));
    }
  });
  rt.run("00-MENU");
  EXPECT_EQ(typed, (std::vector<T>{T::unknown, T::unknown, T::unknown, T::unknown, T::pressed, T::pressed,
                                   T::pressed, T::pressed}));
  EXPECT_EQ(while_busy, (std::vector<T>{T::blocked, T::blocked, T::blocked}));
  EXPECT_EQ(menu.clicks,
            (std::vector<std::string>{"Bt_Confirma7", "Bt_Confirma7", "Bt_Confirma7", "Bt_Confirma8"}));
}

}  // namespace
}  // namespace kav::ui::headless
