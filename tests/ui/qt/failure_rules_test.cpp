// The failure rules of the form contract hold the same way on both runtimes:
// the same failing forms give the same reports and the same course of events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/clock.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "ui/headless/headless_runtime.h"
#include "ui/qt/qt_runtime.h"
#include "ui/scripted_form.h"

namespace kav::ui {
namespace {

using fakes::RecordingRunner;
using fakes::ScriptedForm;

struct Outcome {
  std::vector<std::string> errors;
  std::vector<std::string> boxes;  // "style:text"
  std::vector<std::string> start_events, failing_events;
  int unknown_form_result = 0, progress = -1;
};

// A start form that names controls it does not have and an unknown form,
// then runs a form whose first handler fails; it goes on and ends itself.
struct FailingForms {
  FailingForms() {
    start.add_timer("Cm_Timer", 1000);
    start.add_control("Lv_Proc", form::ControlKind::list);
    failing.add_timer("CmTimer1", 1);
    start.on_tick = [this](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("Cm_Timer", false);
      for (int i = 0; i < 2; ++i) {
        ctx.step_progress("Cm_Nada");
        outcome.progress = ctx.get_progress_value("Lv_Proc");
      }
      outcome.unknown_form_result = ctx.run_form_modal("77-NADA   ");
      ctx.run_form_modal("90-FALHA");
      ctx.end_form();
    };
    failing.on_tick = [](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("CmTimer1", false);
      throw std::runtime_error("sem papel");
    };
    forms.add(start);
    forms.add(failing);
  }
  Outcome finish() {
    outcome.start_events = start.events;
    outcome.failing_events = failing.events;
    return outcome;
  }
  ScriptedForm start{"00-START"};
  ScriptedForm failing{"90-FALHA"};
  form::FormSet forms;
  RecordingRunner runner;
  Outcome outcome;
};

Outcome on_headless() {
  FailingForms f;
  platform::ManualClock clock{2020, 1, 1};
  headless::VirtualPacer pacer{clock};
  headless::HeadlessRuntime runtime{f.forms, f.runner, pacer};
  runtime.on_error = [&](std::string_view m) { f.outcome.errors.emplace_back(m); };
  runtime.on_message_box = [&](std::string_view, std::string_view text, int style) {
    f.outcome.boxes.push_back(std::to_string(style) + ":" + record::to_utf8(record::trim_right(text)));
  };
  EXPECT_EQ(runtime.run("00-START"), 0);
  return f.finish();
}

Outcome on_qt() {
  FailingForms f;
  qt::QtRuntime runtime{f.forms, f.runner};
  runtime.set_time_scale(0.001);
  runtime.set_error_hook([&](const std::string& m) { f.outcome.errors.push_back(m); });
  runtime.set_message_box_hook(
      [&](const std::string& text, int style) { f.outcome.boxes.push_back(std::to_string(style) + ":" + text); });
  EXPECT_EQ(runtime.run("00-START"), 0);
  return f.finish();
}

TEST(FailureRulesTest, BothRuntimesReportTheSameAndGoOn) {
  const Outcome headless = on_headless();
  const Outcome windows = on_qt();
  EXPECT_THAT(headless.errors, ::testing::ElementsAre(
                                   "form 00-START has no control of that kind named \"Cm_Nada\"",
                                   "form 00-START has no control of that kind named \"Lv_Proc\"",
                                   "RunFormModal: there is no form named \"77-NADA\"",
                                   "form 90-FALHA: a handler failed: sem papel"));
  EXPECT_THAT(headless.boxes, ::testing::ElementsAre("16:Formulário \"77-NADA\" não encontrado !!!",
                                                     "16:Erro no formulário 90-FALHA !!!"));
  EXPECT_EQ(headless.unknown_form_result, -1);
  EXPECT_EQ(headless.progress, 0);
  // The failing form was closed, so the start form went on and ended itself.
  EXPECT_THAT(headless.failing_events, ::testing::ElementsAre("open", "tick:CmTimer1", "close"));
  EXPECT_THAT(headless.start_events, ::testing::ElementsAre("open", "tick:Cm_Timer", "close"));

  EXPECT_EQ(windows.errors, headless.errors);
  EXPECT_EQ(windows.boxes, headless.boxes);
  EXPECT_EQ(windows.unknown_form_result, headless.unknown_form_result);
  EXPECT_EQ(windows.progress, headless.progress);
  EXPECT_EQ(windows.failing_events, headless.failing_events);
  EXPECT_EQ(windows.start_events, headless.start_events);
}

}  // namespace
}  // namespace kav::ui
