// The form contract as every runtime keeps it: one body of tests, run by
// each front end's test program (the headless one, Qt widgets, native
// windows) on the one core.
//
// A runtime's test program defines a driver and instantiates the suite (the
// runtime's own looks and ways stay in its own tests, on the same fixture):
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Qt, RuntimeContractTest, QtDriver);
//
// The driver names the runtime and its window handle, and looks into the
// windows the way the operator sees them (all text as UTF-8):
//
//   using Runtime; using Window;              // Window: a handle, nullptr for none
//   static void set_built_hook(Runtime&, std::function<void(std::string_view, Window)>);
//   static Window find(Window form, std::string_view control);
//   static std::string text(Window);          // a window's caption, a control's text
//   static std::string column_title(Window list, int column);
//   static int row_count(Window list);
//   static std::string row_text(Window list, int row);
//   static int progress(Window bar);
//   static bool visible(Window);
//   static Window owner(Window form);          // the window of the form it stands over
//   static void click(Window button);          // as the operator's click arrives
//   static void select(Window list, int row);  // the operator selects a row
//   static int selected(Window list);          // the selected row, -1 for none
//   static std::string cell_text(Window list, int row, int column);  // 0-based column
//   static void pump_events_ms(int ms);        // a nested event loop, as a message box runs
//   static constexpr bool kDisablesCaller;     // a called form disables its caller's window
//   static bool enabled(Window);               // (looked at only when it does)
//   static constexpr int kTimerEarliestPercent;  // a timer waits at least this share (%) of its interval
//   static std::int64_t now_ms(Runtime&);      // the runtime's clock
//   static std::vector<std::string> open_boxes(Runtime&);  // texts of the message boxes up now
//   static void close_boxes(Runtime&);         // presses OK on each
// and optionally, where the runtime draws them, extras the shared tests also check:
//   static bool row_in_view(Window list, int row);      // wholly shown
//   static bool row_out_of_view(Window list, int row);  // not shown at all
//   static std::uint32_t text_color(Window list);       // 0xRRGGBB
//   static std::string row_tip(Window list, int row);  // a row's full text on hover
//   static bool active(Window form);                    // has the focus
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "form/form.h"
#include "record/area.h"
#include "ui/scripted_form.h"

namespace kav::ui::contract {

using ::kav::ui::fakes::RecordingRunner;
using ::kav::ui::fakes::ScriptedForm;

struct Box {
  std::string text;
  int style;
};

// A runtime over scripted forms, its message boxes recorded. The bodies of
// the shared tests are members here; each TYPED_TEST_P below runs one.
template <class Driver>
class RuntimeContractTest : public ::testing::Test {
 protected:
  using D = Driver;
  using Window = typename Driver::Window;

  RuntimeContractTest() : runtime(forms, runner) {
    runtime.set_message_box_hook([this](const std::string& text, int style) { boxes.push_back({text, style}); });
    D::set_built_hook(runtime, [this](std::string_view form, Window window) {
      built.emplace_back(form);
      if (on_built) on_built(form, window);
    });
  }

  ScriptedForm& form(std::string name, std::string caption = "Test") {
    owned.push_back(std::make_unique<ScriptedForm>(std::move(name), std::move(caption)));
    forms.add(*owned.back());
    return *owned.back();
  }

  // The monitor's design as the start form lays it out, with a hidden frame
  // holding a label, and a date: every kind of control. Its timer ticks once
  // and the form ends.
  ScriptedForm& every_control_form() {
    ScriptedForm& f = form("00-MENU", "Monitor Comandas (19.11c)");
    f.edit().width = 540;
    f.edit().height = 330;
    f.add_timer("Cm_Timer", 1000);
    auto& list = f.add_control("Lv_Proc", form::ControlKind::list);
    list.x = 10, list.y = 10, list.width = 518, list.height = 218;
    list.columns = {{"Status", 500}};
    list.font = {"Verdana", 9, true};
    auto& bar = f.add_control("Cm_Progress", form::ControlKind::progress);
    bar.x = 10, bar.y = 232, bar.width = 518, bar.height = 11;
    bar.minimum = 0, bar.maximum = 5, bar.step = 1, bar.position = 0;
    auto& export_button = f.add_control("Bt_Confirma7", form::ControlKind::button, "Exportar Cadastros");
    export_button.x = 10, export_button.y = 250, export_button.width = 277, export_button.height = 55;
    export_button.font = {"Tahoma", 14.25, true};
    auto& exit_button = f.add_control("Bt_Confirma8", form::ControlKind::button, "Sair");
    exit_button.x = 295, exit_button.y = 250, exit_button.width = 233, exit_button.height = 55;
    exit_button.font = {"Tahoma", 14.25, true};
    exit_button.picture = "Bt_Sair";
    auto& frame = f.add_control("Frm_Bloq", form::ControlKind::frame, "Aguarde !!");
    frame.x = 20, frame.y = 20, frame.width = 200, frame.height = 80;
    frame.visible = false;
    auto& inside = f.add_control("CmStatic1", form::ControlKind::static_text, "Registro sendo acessado");
    inside.parent = "Frm_Bloq";
    inside.x = 5, inside.y = 25;
    f.add_control("Ed_DTSIS", form::ControlKind::date_edit).format = "dd/MM/yyyy";
    runtime.set_time_scale(0.001);
    f.on_tick = [](form::FormContext& ctx, std::string_view) { ctx.end_form(); };
    return f;
  }
  // Runs it, named in another case: built once, opened, ticked once, closed.
  void run_every_control_form(ScriptedForm& f) {
    EXPECT_EQ(runtime.run("00-menu"), 0);
    EXPECT_THAT(built, ::testing::ElementsAre("00-MENU"));
    EXPECT_THAT(f.events, ::testing::ElementsAre("open", "tick:Cm_Timer", "close"));
  }

  form::FormSet forms;
  RecordingRunner runner;
  typename Driver::Runtime runtime;
  std::vector<std::unique_ptr<ScriptedForm>> owned;
  std::vector<Box> boxes;
  std::vector<std::string> built;  // the forms whose windows were built, in order
  std::function<void(std::string_view, Window)> on_built;

 public:
  void shows_windows_1252_text_as_unicode() {
    // "Importação" and a euro sign, as the forms hold them.
    ScriptedForm& f = form("F", "Importa\xE7\xE3o \x80 5");
    f.add_control("Bt_X", form::ControlKind::button, "Exporta\xE7\xE3o");
    auto& list = f.add_control("Lv_X", form::ControlKind::list);
    list.columns = {{"Situa\xE7\xE3o", 100}};
    f.add_timer("T", 1);
    Window shown_list = nullptr;
    on_built = [&](std::string_view, Window w) {
      shown_list = D::find(w, "Lv_X");
      EXPECT_EQ(D::text(w), "Importação € 5");
      EXPECT_EQ(D::text(w).substr(13), "€ 5");  // one character, not three
      EXPECT_EQ(D::text(D::find(w, "Bt_X")), "Exportação");
      EXPECT_EQ(D::column_title(shown_list, 0), "Situação");
    };
    std::string row;
    f.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("T", false);
      // The contract hands over the whole 210-character field.
      const form::ListRow r = ctx.get_list_row("Lv_X", ctx.add_list_row("Lv_X", 1, 1));
      ctx.set_list_row_text(r, record::padded("Comanda 12 \x80 ok", 210), 1);
      row = D::row_text(shown_list, 0);
      ctx.show_message_box(record::padded("Fim da Exporta\xE7\xE3o dos Cadastros !!!", 210), form::kStyleInformation);
      ctx.show_message_box("Erro na abertura do VENDEDO.ORB !!!" + std::string(85, ' '), form::kStyleError);
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_EQ(row, "Comanda 12 € ok");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Fim da Exportação dos Cadastros !!!");
    EXPECT_EQ(boxes[0].style, 64);
    EXPECT_EQ(boxes[1].text, "Erro na abertura do VENDEDO.ORB !!!");
    EXPECT_EQ(boxes[1].style, 16);
  }

  // What the form reads back and what the bar shows agree at every step.
  void progress_bar_stops_at_its_ends() {
    ScriptedForm& f = form("F");
    auto& bar = f.add_control("Cm_Progress", form::ControlKind::progress);
    bar.minimum = 2, bar.maximum = 8, bar.step = 3, bar.position = 2;
    std::vector<int> values, shown_values;
    Window shown = nullptr;
    on_built = [&](std::string_view, Window w) { shown = D::find(w, "Cm_Progress"); };
    f.on_open = [&](form::FormContext& ctx) {
      auto look = [&] {
        values.push_back(ctx.get_progress_value("Cm_Progress"));
        shown_values.push_back(D::progress(shown));
      };
      look();
      ctx.step_progress("Cm_Progress");  // 5
      look();
      ctx.step_progress("Cm_Progress");  // 8
      look();
      ctx.step_progress("Cm_Progress");  // stays at 8
      look();
      ctx.set_progress_value("Cm_Progress", 99);
      look();
      ctx.set_progress_value("Cm_Progress", -4);
      look();
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_THAT(values, ::testing::ElementsAre(2, 5, 8, 8, 8, 2));
    EXPECT_EQ(shown_values, values);
  }

  void list_rows_are_added_in_order_scrolled_into_view_and_bounded() {
    ScriptedForm& f = form("F");
    auto& l = f.add_control("Lv_Proc", form::ControlKind::list);
    l.width = 518, l.height = 218;
    l.columns = {{"Status", 500}};
    f.add_timer("T", 1);
    Window list = nullptr;
    on_built = [&](std::string_view, Window w) { list = D::find(w, "Lv_Proc"); };
    constexpr int kRows = 60;
    std::vector<int> rows;
    f.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("T", false);
      for (int i = 0; i < kRows; ++i) {
        rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
        const form::ListRow row = ctx.get_list_row("Lv_Proc", rows.back());
        ctx.set_list_row_text(row, record::padded("linha " + std::to_string(i), 210), 1);
        ctx.show_list_row(ctx.get_list_row("Lv_Proc", rows.back()));
      }
      ctx.refresh_control("Lv_Proc");
      // The first rows scrolled away, the last one in view.
      if constexpr (requires { D::row_in_view(list, 0); }) {
        EXPECT_TRUE(D::row_in_view(list, kRows - 1));
        EXPECT_TRUE(D::row_out_of_view(list, 0));
      }

      // Rows that do not exist and columns the list lacks change nothing.
      EXPECT_EQ(ctx.get_list_row("Lv_Proc", kRows).index, -1);
      EXPECT_EQ(ctx.get_list_row("Lv_Proc", -1).index, -1);
      ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", kRows), "x", 1);
      ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", 0), "x", 2);
      ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", 0), "x", 0);
      ctx.show_list_row(form::ListRow{"Lv_Proc", -1});
      EXPECT_EQ(D::row_text(list, 0), "linha 0");
      EXPECT_EQ(D::row_count(list), kRows);
      EXPECT_EQ(ctx.add_list_row("Lv_Nothing", 1, 1), -1);
      ctx.end_form();
    };
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("Lv_Nothing"));
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows));
    for (int i = 0; i < kRows; ++i) EXPECT_EQ(rows[static_cast<std::size_t>(i)], i);
  }

  // Weeks of checks: only the most recent rows stay, the newest at the end,
  // and the index returned is the new row's. (Filled in a called form that is
  // not shown: a visible native list is redrawn on every row.)
  void list_keeps_only_the_most_recent_rows() {
    runtime.set_show_delay_ms(1000000);
    ScriptedForm& start = form("START");
    start.on_open = [](form::FormContext& ctx) {
      ctx.run_form_modal("F");
      ctx.end_form();
    };
    ScriptedForm& f = form("F");
    f.add_control("Lv_Proc", form::ControlKind::list).columns = {{"Status", 500}};
    Window list = nullptr;
    on_built = [&](std::string_view name, Window w) {
      if (name == "F") list = D::find(w, "Lv_Proc");
    };
    std::vector<int> rows;
    constexpr int kKept = form::kListRowLimit - form::kListRowDrop;
    f.on_open = [&](form::FormContext& ctx) {
      for (int i = 0; i < form::kListRowLimit + 3; ++i) {
        rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
        ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", rows.back()), std::to_string(i), 1);
      }
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(D::row_count(list), kKept + 3);
      EXPECT_EQ(D::row_text(list, 0), std::to_string(form::kListRowDrop));
      EXPECT_EQ(D::row_text(list, kKept + 2), std::to_string(form::kListRowLimit + 2));
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("START"), 0);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(form::kListRowLimit + 3));
    EXPECT_EQ(rows[form::kListRowLimit - 1], form::kListRowLimit - 1);
    EXPECT_EQ(rows[form::kListRowLimit], kKept);  // the oldest rows left at once
    EXPECT_EQ(rows.back(), kKept + 2);
  }

  void a_removed_row_leaves_and_the_rows_after_it_move_up() {
    ScriptedForm& f = form("F");
    auto& l = f.add_control("Lv_Alertas", form::ControlKind::list);
    l.width = 518, l.height = 85;
    l.columns = {{"Alertas", 500}};
    l.text_color = 0xC00000;
    f.add_timer("T", 1);
    Window list = nullptr;
    on_built = [&](std::string_view, Window w) { list = D::find(w, "Lv_Alertas"); };
    std::vector<std::string> left;
    f.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("T", false);
      for (const char* text : {"a", "b", "c"}) {
        ctx.set_list_row_text(ctx.get_list_row("Lv_Alertas", ctx.add_list_row("Lv_Alertas", 1, 1)), text, 1);
      }
      ctx.remove_list_row(ctx.get_list_row("Lv_Alertas", 1));
      ctx.remove_list_row(form::ListRow{"Lv_Alertas", 2});  // no such row any more: nothing
      ctx.remove_list_row(form::ListRow{"Lv_Alertas", -1});
      ctx.set_list_row_text(ctx.get_list_row("Lv_Alertas", 1), "c2", 1);
      for (int i = 0; i < D::row_count(list); ++i) left.push_back(D::row_text(list, i));
      if constexpr (requires { D::row_tip(list, 1); }) {
        EXPECT_EQ(D::row_tip(list, 1), "c2");
      }
      if constexpr (requires { D::text_color(list); }) {
        EXPECT_EQ(D::text_color(list), 0xC00000u);
      }
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_THAT(left, ::testing::ElementsAre("a", "c2"));
  }

  // The row the operator selects reaches the form, follows its row when rows
  // before it go, and goes with its row; the form selects rows too.
  void the_selected_row_reaches_the_form_and_follows_its_row() {
    ScriptedForm& f = form("F");
    auto& l = f.add_control("Lv_T", form::ControlKind::list);
    l.width = 300, l.height = 120;
    l.columns = {{"Hora", 60}, {"Comanda", 60}, {"Situa\xE7\xE3o", 100}};
    f.add_timer("T", 1);
    Window list = nullptr;
    on_built = [&](std::string_view, Window w) { list = D::find(w, "Lv_T"); };
    std::vector<int> seen;
    f.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("T", false);
      for (const char* text : {"a", "b", "c", "d"}) {
        const form::ListRow row = ctx.get_list_row("Lv_T", ctx.add_list_row("Lv_T", 1, 1));
        for (int column = 1; column <= 3; ++column) {
          ctx.set_list_row_text(row, std::string(text) + std::to_string(column), column);
        }
      }
      EXPECT_EQ(D::cell_text(list, 2, 0), "c1");
      EXPECT_EQ(D::cell_text(list, 2, 2), "c3");
      seen.push_back(ctx.get_selected_row("Lv_T"));  // none yet
      D::select(list, 2);
      seen.push_back(ctx.get_selected_row("Lv_T"));  // 2
      ctx.remove_list_row(ctx.get_list_row("Lv_T", 0));
      seen.push_back(ctx.get_selected_row("Lv_T"));  // its row moved up: 1
      ctx.remove_list_row(ctx.get_list_row("Lv_T", 1));
      seen.push_back(ctx.get_selected_row("Lv_T"));  // gone with its row
      ctx.select_list_row(ctx.get_list_row("Lv_T", 1));
      seen.push_back(ctx.get_selected_row("Lv_T"));  // 1
      seen.push_back(D::selected(list));             // and so the operator sees it
      ctx.select_list_row(form::ListRow{"Lv_T", 7});  // no such row: none
      seen.push_back(ctx.get_selected_row("Lv_T"));
      seen.push_back(D::selected(list));
      seen.push_back(ctx.get_selected_row("Lv_Nenhuma"));  // no such list
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_THAT(seen, ::testing::ElementsAre(-1, 2, 1, -1, 1, 1, -1, -1, -1));
  }

  void nested_modal_form_returns_control_to_its_caller() {
    ScriptedForm& outer = form("00-MENU");
    outer.add_timer("Cm_Timer", 1);
    ScriptedForm& inner = form("90-COMANDAS", "KAV - Importa\xE7\xE3o Comandas");
    inner.add_timer("CmTimer1", 1);
    std::vector<std::string> order;
    Window outer_window = nullptr;
    Window inner_window = nullptr;
    on_built = [&](std::string_view name, Window w) { (name == "00-MENU" ? outer_window : inner_window) = w; };
    outer.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("Cm_Timer", false);
      order.push_back("outer calls");
      EXPECT_EQ(ctx.run_form_modal("90-Comandas   "), 0);
      order.push_back("outer resumes");
      EXPECT_EQ(runtime.open_forms(), 1);
      if constexpr (D::kDisablesCaller) {
        EXPECT_TRUE(D::enabled(outer_window));
      }
      ctx.end_form();
    };
    inner.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("CmTimer1", false);
      EXPECT_EQ(runtime.open_forms(), 2);
      EXPECT_EQ(D::owner(inner_window), outer_window);
      // A called form that closes at once never shows its window.
      EXPECT_TRUE(D::visible(outer_window));
      EXPECT_FALSE(D::visible(inner_window));
      if constexpr (D::kDisablesCaller) {
        EXPECT_FALSE(D::enabled(outer_window));
        EXPECT_TRUE(D::enabled(inner_window));
      }
      order.push_back("inner works");
      ctx.end_form();
    };
    inner.on_close = [&](form::FormContext&) { order.push_back("inner closed"); };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    EXPECT_THAT(order, ::testing::ElementsAre("outer calls", "inner works", "inner closed", "outer resumes"));
    EXPECT_THAT(inner.events, ::testing::ElementsAre("open", "tick:CmTimer1", "close"));
    EXPECT_THAT(outer.events, ::testing::ElementsAre("open", "tick:Cm_Timer", "close"));
    EXPECT_EQ(runtime.open_forms(), 0);
  }

  // The log form's way: the work and EndForm happen in FormOpen. Such a form
  // never shows a window; one that stays open a moment does, and a form run
  // twice gets a new window.
  void called_form_shows_only_once_it_has_stayed_open_a_moment() {
    runtime.set_show_delay_ms(50);
    ScriptedForm& log = form("99-LOG", "KAV - LOG");
    log.add_timer("T", 1);  // never gets to tick
    std::vector<bool> log_visible;
    Window log_window = nullptr;
    log.on_open = [&](form::FormContext& ctx) { ctx.end_form(); };
    log.on_close = [&](form::FormContext&) { log_visible.push_back(D::visible(log_window)); };
    ScriptedForm& slow = form("01-EXPORTA");
    slow.add_timer("CmTimer1", 5);
    Window slow_window = nullptr;
    std::vector<bool> slow_visible;
    slow.on_tick = [&](form::FormContext& ctx, std::string_view) {
      slow_visible.push_back(D::visible(slow_window));
      if (slow_visible.back() || slow_visible.size() > 2000) ctx.end_form();
    };
    on_built = [&](std::string_view name, Window w) { (name == "99-LOG" ? log_window : slow_window) = w; };
    ScriptedForm& caller = form("F");
    caller.on_open = [&](form::FormContext& ctx) {
      EXPECT_EQ(ctx.run_form_modal("99-LOG"), 0);
      EXPECT_EQ(ctx.run_form_modal("99-log"), 0);
      EXPECT_EQ(ctx.run_form_modal("01-EXPORTA"), 0);
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_THAT(log.events, ::testing::ElementsAre("open", "close", "open", "close"));
    EXPECT_THAT(log_visible, ::testing::ElementsAre(false, false));
    EXPECT_THAT(built, ::testing::ElementsAre("F", "99-LOG", "99-LOG", "01-EXPORTA"));
    ASSERT_GE(slow_visible.size(), 2u);
    EXPECT_FALSE(slow_visible.front());
    EXPECT_TRUE(slow_visible.back());
  }

  // EndForm only marks the form: the handler runs to its end, with the
  // window still there, and FormClose follows once.
  void end_form_takes_effect_when_the_handler_returns() {
    ScriptedForm& f = form("F");
    f.add_timer("T", 1);
    f.add_control("Lv_Proc", form::ControlKind::list).columns = {{"Status", 500}};
    std::vector<int> rows;
    f.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.end_form();
      rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
      EXPECT_EQ(f.events.back(), "tick:T");  // not closed yet
      ctx.end_form();
      rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
    };
    f.on_close = [](form::FormContext& ctx) { ctx.end_form(); };  // nothing left to close
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_THAT(rows, ::testing::ElementsAre(0, 1));
    EXPECT_THAT(f.events, ::testing::ElementsAre("open", "tick:T", "close"));
  }

  // While a handler of a form runs, nested event loops (a called form, a
  // message box) must not deliver that form's own ticks or clicks into it:
  // a click behind a form the operator uses is dropped; one when no such
  // form is above waits for the handler, and comes once per button.
  void busy_form_receives_no_ticks_or_clicks() {
    ScriptedForm& outer = form("OUTER");
    outer.add_timer("T", 1);  // left running on purpose
    outer.add_control("Bt_Go", form::ControlKind::button, "Go");
    ScriptedForm& inner = form("INNER");
    inner.add_timer("T", 1);
    Window go = nullptr;
    on_built = [&](std::string_view name, Window w) {
      if (name == "OUTER") go = D::find(w, "Bt_Go");
    };
    int inner_ticks = 0;
    inner.on_tick = [&](form::FormContext& ctx, std::string_view) {
      D::click(go);  // behind a form the operator uses: dropped
      if (++inner_ticks == 20) ctx.end_form();
    };
    outer.on_tick = [&](form::FormContext& ctx, std::string_view) {
      if (inner_ticks == 0) {
        ctx.run_form_modal("INNER");
        D::click(go);  // still inside the outer handler: waits for it
        ctx.show_message_box("x", form::kStyleInformation);
      } else {
        ctx.end_form();
      }
    };
    // A message box of the outer form runs an event loop too.
    runtime.set_message_box_hook([&](const std::string&, int) {
      D::pump_events_ms(30);
      D::click(go);
    });
    EXPECT_EQ(runtime.run("OUTER"), 0);
    EXPECT_EQ(inner_ticks, 20);
    EXPECT_THAT(outer.events, ::testing::ElementsAre("open", "tick:T", "click:Bt_Go", "tick:T", "close"));
  }

  // A click on a form while a form that works in the background runs over
  // it (a check over the monitor) is taken and done when the check is over;
  // a click ending the form ends it after the check.
  void a_click_during_a_background_form_waits_for_it() {
    ScriptedForm& outer = form("OUTER");
    outer.add_timer("T", 1);
    outer.add_control("Bt_Go", form::ControlKind::button, "Go");
    outer.add_control("Bt_End", form::ControlKind::button, "End");
    ScriptedForm& check = form("CHECK");
    check.edit().takes_focus = false;
    check.add_timer("T", 1);
    Window go = nullptr, end = nullptr;
    on_built = [&](std::string_view name, Window w) {
      if (name == "OUTER") go = D::find(w, "Bt_Go"), end = D::find(w, "Bt_End");
    };
    int check_ticks = 0;
    check.on_tick = [&](form::FormContext& ctx, std::string_view) {
      if (check_ticks == 0) D::click(go);
      if (check_ticks == 1) D::click(end);
      if (check_ticks == 2) D::click(go);  // once per button
      ctx.wait_ms(10);
      if (++check_ticks == 5) ctx.end_form();
    };
    outer.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("T", false);
      ctx.run_form_modal("CHECK");
      outer.events.push_back("check done");
    };
    outer.on_click = [&](form::FormContext& ctx, std::string_view button) {
      if (button == "Bt_End") ctx.end_form();
    };
    EXPECT_EQ(runtime.run("OUTER"), 0);
    EXPECT_EQ(check_ticks, 5);
    EXPECT_THAT(outer.events,
                ::testing::ElementsAre("open", "tick:T", "check done", "click:Bt_Go", "click:Bt_End", "close"));
  }

  // Restarting a slow timer over and over keeps it from ticking until the
  // restarts stop, and then it waits its whole interval; a timer off in the
  // design never ticks.
  void timer_switched_off_stops_ticks_and_on_restarts_the_interval() {
    constexpr int kSlowMs = 1000;  // far above a Fast tick held up by a loaded machine
    ScriptedForm& f = form("F");
    f.add_timer("Slow", kSlowMs);
    f.add_timer("Fast", 5);
    f.add_timer("Off", 1, false);
    std::int64_t opened = 0, last_restart = 0, slow_at = 0;
    int fast = 0;
    f.on_open = [&](form::FormContext&) { opened = D::now_ms(runtime); };
    f.on_tick = [&](form::FormContext& ctx, std::string_view timer) {
      if (timer == "Fast") {
        if (++fast < 10) {
          ctx.set_timer_enabled("Slow", true);
          last_restart = D::now_ms(runtime);
        } else {
          ctx.set_timer_enabled("Fast", false);
        }
      } else if (timer == "Slow") {
        slow_at = D::now_ms(runtime);
        ctx.end_form();
      }
    };
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_EQ(fast, 10);
    std::vector<std::string> expected(10, "tick:Fast");
    expected.insert(expected.begin(), "open");
    expected.insert(expected.end(), {"tick:Slow", "close"});
    EXPECT_EQ(f.events, expected);
    EXPECT_GE(slow_at - last_restart, kSlowMs * D::kTimerEarliestPercent / 100);
    EXPECT_GE(last_restart - opened, 40);  // nine restarts, 5 ms apart
  }

  void unknown_form_is_reported_and_returns_minus_one() {
    ScriptedForm& f = form("F");
    int result = 0;
    f.on_open = [&](form::FormContext& ctx) {
      result = ctx.run_form_modal("01-NADA   ");
      ctx.end_form();
    };
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                ::testing::HasSubstr("RunFormModal: there is no form named \"01-NADA\"\n"));
    EXPECT_EQ(result, -1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].style, form::kStyleError);
    EXPECT_EQ(boxes[0].text, "Formulário \"01-NADA\" não encontrado !!!");

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runtime.run("NADA"), 1);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("\"NADA\""));
    EXPECT_EQ(boxes.size(), 2u);
  }

  // An exception must not unwind through the window system: it is reported.
  // The start form goes on receiving events; a called form is closed so that
  // its caller goes on. A control the form lacks (or of another kind) is
  // reported once per form and name, and the operation does nothing.
  void failing_handler_and_unknown_control_are_reported_and_the_program_goes_on() {
    ScriptedForm& f = form("F");
    f.add_timer("T", 1);
    f.add_control("Lv_Proc", form::ControlKind::list);
    ScriptedForm& called = form("90-COMANDAS");
    called.add_timer("CmTimer1", 1);
    called.on_tick = [](form::FormContext&, std::string_view) { throw std::runtime_error("resposta truncada"); };
    int ticks = 0;
    f.on_tick = [&](form::FormContext& ctx, std::string_view) {
      if (++ticks == 1) throw std::runtime_error("disco cheio");
      ctx.set_timer_enabled("T", false);
      EXPECT_EQ(ctx.run_form_modal("90-COMANDAS"), 0);  // comes back
      for (int i = 0; i < 3; ++i) {
        ctx.step_progress("Lv_Proc");
        ctx.set_timer_enabled("Tm_Nada", true);
        EXPECT_EQ(ctx.get_progress_value("Cm_Nada"), 0);
      }
      ctx.end_form();
    };
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runtime.run("F"), 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, ::testing::HasSubstr("form F: a handler failed: disco cheio\n"));
    EXPECT_THAT(err, ::testing::HasSubstr("form 90-COMANDAS: a handler failed: resposta truncada\n"));
    EXPECT_THAT(err, ::testing::HasSubstr("form F has no control of that kind named \"Lv_Proc\"\n"));
    for (const char* name : {"\"Lv_Proc\"", "\"Tm_Nada\"", "\"Cm_Nada\""}) {
      const std::size_t first = err.find(name);
      EXPECT_NE(first, std::string::npos) << name;
      EXPECT_EQ(err.find(name, first + 1), std::string::npos) << name;  // once
    }
    EXPECT_EQ(ticks, 2);
    EXPECT_THAT(called.events, ::testing::ElementsAre("open", "tick:CmTimer1", "close"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].style, form::kStyleError);
    EXPECT_EQ(boxes[0].text, "Erro no formulário F !!!");
    EXPECT_EQ(boxes[1].text, "Erro no formulário 90-COMANDAS !!!");
  }

  void command_line_loses_trailing_blanks_and_keeps_its_bytes() {
    ScriptedForm& f = form("F");
    runner.result = platform::Status::exited(7);
    int result = 0;
    f.on_open = [&](form::FormContext& ctx) {
      result = ctx.run_command_line(record::padded("CMD.EXE /C C:\\Temp\\A\xE7\xE3o.bat", 256), 0).exit_code();
      ctx.run_command_line("   ", 1).ignore();
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("F"), 0);
    EXPECT_EQ(result, 7);
    ASSERT_EQ(runner.calls.size(), 2u);
    EXPECT_EQ(runner.calls[0].line, "CMD.EXE /C C:\\Temp\\A\xE7\xE3o.bat");
    EXPECT_EQ(runner.calls[0].window_mode, 0);
    EXPECT_EQ(runner.calls[1].line, "");
    EXPECT_EQ(runner.calls[1].window_mode, 1);
  }

  void set_control_visible_shows_and_hides_a_frame_with_its_controls() {
    ScriptedForm& f = form("01-EXPORTA");
    f.add_timer("CmTimer1", 1);
    auto& frame = f.add_control("Frm_Bloq", form::ControlKind::frame, "Aguarde a libera\xE7\xE3o do registro !!");
    frame.visible = false;
    f.add_control("CmStatic1", form::ControlKind::static_text, "Registro").parent = "frm_bloq";
    Window bloq = nullptr, inside = nullptr;
    on_built = [&](std::string_view, Window w) {
      bloq = D::find(w, "Frm_Bloq");
      inside = D::find(w, "CmStatic1");
    };
    runtime.set_show_delay_ms(0);
    std::vector<bool> states;
    f.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("CmTimer1", false);
      states.push_back(D::visible(bloq) || D::visible(inside));
      ctx.set_control_visible("Frm_Bloq", true);
      states.push_back(D::visible(bloq) && D::visible(inside));
      ctx.set_control_visible("frm_bloq  ", false);
      states.push_back(D::visible(bloq) || D::visible(inside));
      ::testing::internal::CaptureStderr();
      ctx.set_control_visible("Frm_Nada", true);  // reported, no harm
      EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("Frm_Nada"));
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("01-Exporta"), 0);
    EXPECT_THAT(states, ::testing::ElementsAre(false, true, false));
  }

  // A wait inside a handler (a record the ERP holds locked): time passes, no
  // tick of the waiting form arrives meanwhile (nor later: the form has
  // ended), and a called form whose show delay passes during the wait shows.
  // A wait of 0 only lets the drawing through.
  void a_wait_passes_time_inside_the_handler_and_the_form_stays_busy() {
    runtime.set_show_delay_ms(50);
    ScriptedForm& start = form("00-MENU");
    start.on_open = [](form::FormContext& ctx) {
      EXPECT_EQ(ctx.run_form_modal("01-EXPORTA"), 0);
      ctx.end_form();
    };
    ScriptedForm& f = form("01-EXPORTA");
    f.add_timer("CmTimer1", 1);
    f.add_timer("Tm_Outro", 20);  // left on: due several times during the wait
    Window window = nullptr;
    on_built = [&](std::string_view name, Window w) {
      if (name == "01-EXPORTA") window = w;
    };
    std::int64_t waited = -1;
    bool shown_before = true, shown_after = false;
    f.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("CmTimer1", false);
      shown_before = D::visible(window);
      ctx.wait_ms(0);
      const std::int64_t before = D::now_ms(runtime);
      ctx.wait_ms(150);
      waited = D::now_ms(runtime) - before;
      shown_after = D::visible(window);
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    EXPECT_THAT(f.events, ::testing::ElementsAre("open", "tick:CmTimer1", "close"));
    EXPECT_GE(waited, 150 * D::kTimerEarliestPercent / 100);
    EXPECT_FALSE(shown_before);
    EXPECT_TRUE(shown_after);
  }

  // The export's final box left open: the monitor's timer goes on ticking
  // (so its checks go on) and the box stays up until its OK. Real boxes, no
  // hook: a box that waited would hold the test here.
  void a_box_left_open_holds_no_timer() {
    runtime.set_message_box_hook(nullptr);
    runtime.set_time_scale(0.01);
    ScriptedForm& menu = form("00-MENU");
    menu.add_timer("Cm_Timer", 1000);
    ScriptedForm& exporta = form("01-EXPORTA", "Exporta\xE7\xE3o de Cadastros");
    exporta.add_timer("CmTimer1", 1);
    const std::string fim = "Fim da Exporta\xE7\xE3o dos Cadastros !!!";
    exporta.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("CmTimer1", false);
      ctx.show_message_box(record::padded(fim, 210), form::kStyleInformation);
      ctx.end_form();
    };
    int ticks = 0;
    std::vector<std::string> up_after_export, up_at_end;
    menu.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ++ticks;
      if (ticks == 1) {
        ctx.run_form_modal("01-EXPORTA");
        return;
      }
      if (ticks == 2) {
        for (int i = 0; i < 300 && D::open_boxes(runtime).empty(); ++i) D::pump_events_ms(10);
        up_after_export = D::open_boxes(runtime);
      }
      if (ticks < 4) return;
      up_at_end = D::open_boxes(runtime);
      D::close_boxes(runtime);
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    EXPECT_EQ(ticks, 4);
    EXPECT_THAT(up_after_export, ::testing::ElementsAre("Fim da Exportação dos Cadastros !!!"));
    EXPECT_EQ(up_at_end, up_after_export);
    EXPECT_THAT(exporta.events, ::testing::ElementsAre("open", "tick:CmTimer1", "close"));
  }

  // The order processing's way: a form of the background shows only after
  // its own, longer delay (whatever the runtime's), and then leaves the
  // focus where it was. A check that waits on a command shows it too.
  void a_background_form_shows_late_and_takes_no_focus() {
    runtime.set_show_delay_ms(1);
    ScriptedForm& check = form("90-COMANDAS", "KAV - Importa\xE7\xE3o Comandas");
    check.edit().show_delay_ms = 300;
    check.edit().takes_focus = false;
    check.add_timer("CmTimer1", 1);
    Window window = nullptr;
    on_built = [&](std::string_view name, Window w) {
      if (name == "90-COMANDAS") window = w;
    };
    int wait = 100;
    std::vector<bool> shown;
    bool active = false;
    check.on_tick = [&](form::FormContext& ctx, std::string_view) {
      ctx.set_timer_enabled("CmTimer1", false);
      ctx.wait_ms(wait);
      shown.push_back(D::visible(window));
      if constexpr (requires { D::active(window); }) {
        if (shown.back()) active = active || D::active(window);
      }
      ctx.end_form();
    };
    ScriptedForm& menu = form("00-MENU");
    menu.on_open = [&](form::FormContext& ctx) {
      ctx.run_form_modal("90-COMANDAS");  // a short check
      wait = 500;
      ctx.run_form_modal("90-COMANDAS");  // a check kept waiting
      ctx.end_form();
    };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    EXPECT_THAT(shown, ::testing::ElementsAre(false, true));
    EXPECT_FALSE(active);
  }
};

TYPED_TEST_SUITE_P(RuntimeContractTest);

TYPED_TEST_P(RuntimeContractTest, ShowsWindows1252TextAsUnicode) { this->shows_windows_1252_text_as_unicode(); }
TYPED_TEST_P(RuntimeContractTest, ProgressBarStopsAtItsEnds) { this->progress_bar_stops_at_its_ends(); }
TYPED_TEST_P(RuntimeContractTest, ListRowsAreAddedInOrderScrolledIntoViewAndBounded) {
  this->list_rows_are_added_in_order_scrolled_into_view_and_bounded();
}
TYPED_TEST_P(RuntimeContractTest, ListKeepsOnlyTheMostRecentRows) { this->list_keeps_only_the_most_recent_rows(); }
TYPED_TEST_P(RuntimeContractTest, ARemovedRowLeavesAndTheRowsAfterItMoveUp) {
  this->a_removed_row_leaves_and_the_rows_after_it_move_up();
}
TYPED_TEST_P(RuntimeContractTest, TheSelectedRowReachesTheFormAndFollowsItsRow) {
  this->the_selected_row_reaches_the_form_and_follows_its_row();
}
TYPED_TEST_P(RuntimeContractTest, NestedModalFormReturnsControlToItsCaller) {
  this->nested_modal_form_returns_control_to_its_caller();
}
TYPED_TEST_P(RuntimeContractTest, CalledFormShowsOnlyOnceItHasStayedOpenAMoment) {
  this->called_form_shows_only_once_it_has_stayed_open_a_moment();
}
TYPED_TEST_P(RuntimeContractTest, EndFormTakesEffectWhenTheHandlerReturns) {
  this->end_form_takes_effect_when_the_handler_returns();
}
TYPED_TEST_P(RuntimeContractTest, BusyFormReceivesNoTicksOrClicks) { this->busy_form_receives_no_ticks_or_clicks(); }
TYPED_TEST_P(RuntimeContractTest, AClickDuringABackgroundFormWaitsForIt) {
  this->a_click_during_a_background_form_waits_for_it();
}
TYPED_TEST_P(RuntimeContractTest, TimerSwitchedOffStopsTicksAndOnRestartsTheInterval) {
  this->timer_switched_off_stops_ticks_and_on_restarts_the_interval();
}
TYPED_TEST_P(RuntimeContractTest, UnknownFormIsReportedAndReturnsMinusOne) {
  this->unknown_form_is_reported_and_returns_minus_one();
}
TYPED_TEST_P(RuntimeContractTest, FailingHandlerAndUnknownControlAreReportedAndTheProgramGoesOn) {
  this->failing_handler_and_unknown_control_are_reported_and_the_program_goes_on();
}
TYPED_TEST_P(RuntimeContractTest, CommandLineLosesTrailingBlanksAndKeepsItsBytes) {
  this->command_line_loses_trailing_blanks_and_keeps_its_bytes();
}
TYPED_TEST_P(RuntimeContractTest, SetControlVisibleShowsAndHidesAFrameWithItsControls) {
  this->set_control_visible_shows_and_hides_a_frame_with_its_controls();
}
TYPED_TEST_P(RuntimeContractTest, AWaitPassesTimeInsideTheHandlerAndTheFormStaysBusy) {
  this->a_wait_passes_time_inside_the_handler_and_the_form_stays_busy();
}
TYPED_TEST_P(RuntimeContractTest, ABoxLeftOpenHoldsNoTimer) { this->a_box_left_open_holds_no_timer(); }
TYPED_TEST_P(RuntimeContractTest, ABackgroundFormShowsLateAndTakesNoFocus) {
  this->a_background_form_shows_late_and_takes_no_focus();
}

REGISTER_TYPED_TEST_SUITE_P(RuntimeContractTest, ShowsWindows1252TextAsUnicode, ProgressBarStopsAtItsEnds,
                            ListRowsAreAddedInOrderScrolledIntoViewAndBounded, ListKeepsOnlyTheMostRecentRows,
                            ARemovedRowLeavesAndTheRowsAfterItMoveUp,
                            TheSelectedRowReachesTheFormAndFollowsItsRow, NestedModalFormReturnsControlToItsCaller,
                            CalledFormShowsOnlyOnceItHasStayedOpenAMoment, EndFormTakesEffectWhenTheHandlerReturns,
                            BusyFormReceivesNoTicksOrClicks, AClickDuringABackgroundFormWaitsForIt, TimerSwitchedOffStopsTicksAndOnRestartsTheInterval,
                            UnknownFormIsReportedAndReturnsMinusOne,
                            FailingHandlerAndUnknownControlAreReportedAndTheProgramGoesOn,
                            CommandLineLosesTrailingBlanksAndKeepsItsBytes,
                            SetControlVisibleShowsAndHidesAFrameWithItsControls,
                            AWaitPassesTimeInsideTheHandlerAndTheFormStaysBusy, ABoxLeftOpenHoldsNoTimer,
                            ABackgroundFormShowsLateAndTakesNoFocus);

}  // namespace kav::ui::contract
