#include "ui/win32/win32_runtime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <stdexcept>

#include "record/area.h"
#include "ui/qt/scripted_form.h"  // the scripted forms know no toolkit
#include "ui/win32/win32_support.h"


namespace kav::ui::win32 {
namespace {

using ::kav::ui::qt::fakes::RecordingRunner;
using ::kav::ui::qt::fakes::ScriptedForm;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace ::kav::ui::win32::testing;

struct Box {
  std::string text;
  int style;
};

class Win32RuntimeTest : public ::testing::Test {
 protected:
  Win32RuntimeTest() : runtime(forms, runner) {
    runtime.set_message_box_hook([this](const std::string& text, int style) { boxes.push_back({text, style}); });
    runtime.set_form_built_hook([this](std::string_view form, HWND window) {
      built.emplace_back(form);
      if (on_built) on_built(form, window);
    });
  }

  ScriptedForm& form(std::string name, std::string caption = "Test") {
    owned.push_back(std::make_unique<ScriptedForm>(std::move(name), std::move(caption)));
    forms.add(*owned.back());
    return *owned.back();
  }

  form::FormSet forms;
  RecordingRunner runner;
  Win32Runtime runtime;
  std::vector<std::unique_ptr<ScriptedForm>> owned;
  std::vector<Box> boxes;
  std::vector<std::string> built;
  std::function<void(std::string_view, HWND)> on_built;
};

// The monitor's design, as the start form lays it out.
ScriptedForm& monitor_like(ScriptedForm& f) {
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
  return f;
}

LOGFONTW font_of(HWND control) {
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
  return lf;
}

TEST_F(Win32RuntimeTest, BuildsEveryControlOfTheDesignOnTheCommonControls6) {
  ScriptedForm& f = monitor_like(form("00-MENU", "Monitor Comandas (19.11c)"));
  auto& frame = f.add_control("Frm_Bloq", form::ControlKind::frame, "Aguarde !!");
  frame.x = 20, frame.y = 20, frame.width = 200, frame.height = 80;
  frame.visible = false;
  auto& inside = f.add_control("CmStatic1", form::ControlKind::static_text, "Registro sendo acessado");
  inside.parent = "Frm_Bloq";
  inside.x = 5, inside.y = 25;
  f.add_control("Ed_DTSIS", form::ControlKind::date_edit).format = "dd/MM/yyyy";
  runtime.set_time_scale(0.001);

  on_built = [&](std::string_view, HWND w) {
    EXPECT_EQ(text_of(w), "Monitor Comandas (19.11c)");
    EXPECT_EQ(client_size(w).cx, 540);
    EXPECT_EQ(client_size(w).cy, 330);
    EXPECT_TRUE(IsWindowVisible(w));  // the start form shows at once

    HWND list = find_control(w, "lv_proc  ");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(class_of(list), "SysListView32");
    EXPECT_EQ(GetWindowLongW(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_EQ(column_title(list, 0), "Status");
    EXPECT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), 500);
    EXPECT_EQ(row_count(list), 0);
    EXPECT_EQ(font_of(list).lfWeight, FW_BOLD);
    EXPECT_STREQ(font_of(list).lfFaceName, L"Verdana");
    EXPECT_EQ(font_of(list).lfHeight, -12);  // 9 pt at 96 dpi

    HWND bar = find_control(w, "Cm_Progress");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 5);
    EXPECT_EQ(progress_of(bar), 0);
    EXPECT_EQ(client_size(bar).cx, 518);

    HWND export_button = find_control(w, "Bt_Confirma7");
    ASSERT_NE(export_button, nullptr);
    EXPECT_EQ(text_of(export_button), "Exportar Cadastros");
    EXPECT_EQ(font_of(export_button).lfWeight, FW_BOLD);
    EXPECT_STREQ(font_of(export_button).lfFaceName, L"Tahoma");
    EXPECT_EQ(font_of(export_button).lfHeight, -19);  // 14.25 pt
    EXPECT_EQ(SendMessageW(export_button, BM_GETIMAGE, IMAGE_ICON, 0), 0);
    HWND exit_button = find_control(w, "Bt_Confirma8");
    ASSERT_NE(exit_button, nullptr);
    EXPECT_EQ(text_of(exit_button), "Sair");
    EXPECT_NE(SendMessageW(exit_button, BM_GETIMAGE, IMAGE_ICON, 0), 0);  // the picture beside the caption

    HWND bloq = find_control(w, "Frm_Bloq");
    ASSERT_NE(bloq, nullptr);
    EXPECT_FALSE(IsWindowVisible(bloq));
    HWND label = find_control(w, "CmStatic1");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(GetParent(label), bloq);  // hidden with its frame
    EXPECT_EQ(text_of(label), "Registro sendo acessado");
    HWND box = FindWindowExW(bloq, nullptr, L"Button", nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text_of(box), "Aguarde !!");
    EXPECT_EQ(GetWindowLongW(box, GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);

    HWND date = find_control(w, "Ed_DTSIS");
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(class_of(date), "SysDateTimePick32");
    SYSTEMTIME shown{}, today{};
    SendMessageW(date, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&shown));
    GetLocalTime(&today);
    EXPECT_EQ(shown.wYear, today.wYear);
    EXPECT_EQ(shown.wDay, today.wDay);

    EXPECT_EQ(find_control(w, "Cm_Nada"), nullptr);
    EXPECT_EQ(find_control(list, "Lv_Proc"), nullptr);  // not a form's window

    // The program's manifest brought in the Common Controls 6: the library
    // the program's imports were bound to is of that version.
    HMODULE controls = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&InitCommonControlsEx)), &controls));
    // (Wine's build of it reports 5.81 as its own version: the assembly says it.)
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(controls, path, MAX_PATH);
    std::string bound = utf8(path);
    for (char& c : bound) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_THAT(bound, HasSubstr("microsoft.windows.common-controls_"));
    EXPECT_THAT(bound, HasSubstr("_6.0."));
  };
  f.on_tick = [](form::FormContext& ctx, std::string_view) { ctx.end_form(); };

  EXPECT_EQ(runtime.run("00-menu"), 0);
  EXPECT_THAT(built, ElementsAre("00-MENU"));
  EXPECT_THAT(f.events, ElementsAre("open", "tick:Cm_Timer", "close"));
}

TEST_F(Win32RuntimeTest, ShowsWindows1252TextAsUnicode) {
  // "Importação" and a euro sign, as the forms hold them.
  ScriptedForm& f = form("F", "Importa\xE7\xE3o \x80 5");
  f.add_control("Bt_X", form::ControlKind::button, "Exporta\xE7\xE3o");
  auto& list = f.add_control("Lv_X", form::ControlKind::list);
  list.columns = {{"Situa\xE7\xE3o", 100}};
  f.add_timer("T", 1);
  HWND shown_list = nullptr;
  on_built = [&](std::string_view, HWND w) {
    shown_list = find_control(w, "Lv_X");
    EXPECT_EQ(text_of(w), "Importação € 5");
    EXPECT_EQ(text_of(find_control(w, "Bt_X")), "Exportação");
    EXPECT_EQ(column_title(shown_list, 0), "Situação");
  };
  std::string row;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    // The contract hands over the whole 210-character field.
    const form::ListRow r = ctx.get_list_row("Lv_X", ctx.add_list_row("Lv_X", 1, 1));
    ctx.set_list_row_text(r, record::padded("Comanda 12 \x80 ok", 210), 1);
    row = row_text(shown_list, 0);
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

// Without the hook the operator gets a real box over the form's window,
// which takes no input until the box is answered.
TEST_F(Win32RuntimeTest, MessageBoxWithoutHookIsModalOverTheForm) {
  runtime.set_message_box_hook(nullptr);
  runtime.set_show_delay_ms(100000);  // the box must show the form anyway
  ScriptedForm& start = form("START");
  ScriptedForm& f = form("F", "Exporta\xE7\xE3o de Cadastros");
  HWND window = nullptr;
  on_built = [&](std::string_view name, HWND w) {
    if (name == "F") window = w;
  };
  struct Seen {
    std::string title, text;
    bool owner_enabled, owner_visible;
  };
  std::vector<Seen> seen;
  f.on_open = [&](form::FormContext& ctx) {
    for (int style : {form::kStyleError, form::kStyleInformation}) {
      poll([&] {
        HWND box = FindWindowW(L"#32770", nullptr);
        if (box == nullptr || GetWindow(box, GW_OWNER) != window) return false;
        HWND text = GetDlgItem(box, 0xFFFF);
        seen.push_back({text_of(box), text == nullptr ? "" : text_of(text), IsWindowEnabled(window) != FALSE,
                        IsWindowVisible(window) != FALSE});
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return true;
      });
      ctx.show_message_box("Aguarde !!!   ", style);
    }
    ctx.end_form();
  };
  start.on_open = [](form::FormContext& ctx) {
    ctx.run_form_modal("F");
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("START"), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].title, "Exportação de Cadastros");
  EXPECT_EQ(seen[0].text, "Aguarde !!!");
  EXPECT_FALSE(seen[0].owner_enabled);
  EXPECT_TRUE(seen[0].owner_visible);
}

TEST_F(Win32RuntimeTest, ProgressBarStopsAtItsEnds) {
  ScriptedForm& f = form("F");
  auto& bar = f.add_control("Cm_Progress", form::ControlKind::progress);
  bar.minimum = 2, bar.maximum = 8, bar.step = 3, bar.position = 2;
  std::vector<int> values;
  HWND shown = nullptr;
  on_built = [&](std::string_view, HWND w) { shown = find_control(w, "Cm_Progress"); };
  f.on_open = [&](form::FormContext& ctx) {
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.step_progress("Cm_Progress");  // 5
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.step_progress("Cm_Progress");  // 8
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.step_progress("Cm_Progress");  // stays at 8
    values.push_back(progress_of(shown));
    ctx.set_progress_value("Cm_Progress", 99);
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.set_progress_value("Cm_Progress", -4);
    values.push_back(progress_of(shown));
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_THAT(values, ElementsAre(2, 5, 8, 8, 8, 2));
}

TEST_F(Win32RuntimeTest, ListRowsAreAddedInOrderScrolledIntoViewAndBounded) {
  ScriptedForm& f = form("F");
  auto& l = f.add_control("Lv_Proc", form::ControlKind::list);
  l.width = 518, l.height = 218;
  l.columns = {{"Status", 500}};
  f.add_timer("T", 1);
  HWND list = nullptr;
  on_built = [&](std::string_view, HWND w) { list = find_control(w, "Lv_Proc"); };
  std::vector<int> rows;
  auto add = [&](form::FormContext& ctx, int i) {
    rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
    ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", rows.back()), record::padded("linha " + std::to_string(i), 210),
                          1);
    ctx.show_list_row(ctx.get_list_row("Lv_Proc", rows.back()));
  };
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    for (int i = 0; i < 30; ++i) add(ctx, i);
    ctx.refresh_control("Lv_Proc");
    const auto top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    const auto per_page = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    EXPECT_GT(top, 0);  // the first rows scrolled away, the last one in view
    EXPECT_GE(top + per_page, 30);

    // Rows that do not exist and columns the list lacks change nothing.
    EXPECT_EQ(ctx.get_list_row("Lv_Proc", 30).index, -1);
    EXPECT_EQ(ctx.get_list_row("Lv_Proc", -1).index, -1);
    ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", 30), "x", 1);
    ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", 0), "x", 2);
    ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", 0), "x", 0);
    ctx.show_list_row(form::ListRow{"Lv_Proc", -1});
    EXPECT_EQ(row_text(list, 0), "linha 0");
    EXPECT_EQ(ctx.add_list_row("Lv_Nothing", 1, 1), -1);
    ctx.end_form();
  };
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("Lv_Nothing"));
  ASSERT_EQ(rows.size(), 30u);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(rows[static_cast<std::size_t>(i)], i);
}

// Weeks of checks: only the most recent rows stay, the newest at the end,
// and the index returned is the new row's. (Filled in a form that is not
// shown: Wine redraws a visible list on every row.)
TEST_F(Win32RuntimeTest, ListKeepsOnlyTheMostRecentRows) {
  runtime.set_show_delay_ms(1000000);
  ScriptedForm& start = form("START");
  start.on_open = [](form::FormContext& ctx) {
    ctx.run_form_modal("F");
    ctx.end_form();
  };
  ScriptedForm& f = form("F");
  f.add_control("Lv_Proc", form::ControlKind::list).columns = {{"Status", 500}};
  HWND list = nullptr;
  on_built = [&](std::string_view name, HWND w) {
    if (name == "F") list = find_control(w, "Lv_Proc");
  };
  std::vector<int> rows;
  constexpr int kKept = form::kListRowLimit - form::kListRowDrop;
  f.on_open = [&](form::FormContext& ctx) {
    for (int i = 0; i < form::kListRowLimit + 3; ++i) {
      rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
      ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", rows.back()), std::to_string(i), 1);
    }
    EXPECT_EQ(row_count(list), kKept + 3);
    EXPECT_EQ(row_text(list, 0), std::to_string(form::kListRowDrop));
    EXPECT_EQ(row_text(list, kKept + 2), std::to_string(form::kListRowLimit + 2));
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("START"), 0);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(form::kListRowLimit + 3));
  EXPECT_EQ(rows[form::kListRowLimit - 1], form::kListRowLimit - 1);
  EXPECT_EQ(rows[form::kListRowLimit], kKept);  // the oldest rows left at once
  EXPECT_EQ(rows.back(), kKept + 2);
}

TEST_F(Win32RuntimeTest, NestedModalFormDisablesItsCallerUntilItHasClosed) {
  ScriptedForm& outer = form("00-MENU");
  outer.add_timer("Cm_Timer", 1);
  ScriptedForm& inner = form("90-COMANDAS", "KAV - Importa\xE7\xE3o Comandas");
  inner.add_timer("CmTimer1", 1);
  std::vector<std::string> order;
  HWND outer_window = nullptr;
  HWND inner_window = nullptr;
  on_built = [&](std::string_view name, HWND w) { (name == "00-MENU" ? outer_window : inner_window) = w; };
  outer.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("Cm_Timer", false);
    order.push_back("outer calls");
    EXPECT_EQ(ctx.run_form_modal("90-Comandas   "), 0);
    order.push_back("outer resumes");
    EXPECT_EQ(runtime.open_forms(), 1);
    EXPECT_TRUE(IsWindowEnabled(outer_window));
    ctx.end_form();
  };
  inner.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("CmTimer1", false);
    EXPECT_EQ(runtime.open_forms(), 2);
    EXPECT_EQ(GetWindow(inner_window, GW_OWNER), outer_window);
    EXPECT_FALSE(IsWindowEnabled(outer_window));
    EXPECT_TRUE(IsWindowEnabled(inner_window));
    order.push_back("inner works");
    ctx.end_form();
  };
  inner.on_close = [&](form::FormContext&) { order.push_back("inner closed"); };
  EXPECT_EQ(runtime.run("00-MENU"), 0);
  EXPECT_THAT(order, ElementsAre("outer calls", "inner works", "inner closed", "outer resumes"));
  EXPECT_THAT(inner.events, ElementsAre("open", "tick:CmTimer1", "close"));
  EXPECT_THAT(outer.events, ElementsAre("open", "tick:Cm_Timer", "close"));
  EXPECT_EQ(runtime.open_forms(), 0);
}

// The log form's way: the work and EndForm happen in FormOpen. Such a form
// never shows a window; one that stays open a moment does, and a form run
// twice gets a new window.
TEST_F(Win32RuntimeTest, CalledFormShowsOnlyOnceItHasStayedOpenAMoment) {
  runtime.set_show_delay_ms(50);
  ScriptedForm& log = form("99-LOG", "KAV - LOG");
  log.add_timer("T", 1);  // never gets to tick
  std::vector<bool> log_visible;
  HWND log_window = nullptr;
  log.on_open = [&](form::FormContext& ctx) { ctx.end_form(); };
  log.on_close = [&](form::FormContext&) { log_visible.push_back(IsWindowVisible(log_window) != FALSE); };
  ScriptedForm& slow = form("01-EXPORTA");
  slow.add_timer("CmTimer1", 5);
  HWND slow_window = nullptr;
  std::vector<bool> slow_visible;
  slow.on_tick = [&](form::FormContext& ctx, std::string_view) {
    slow_visible.push_back(IsWindowVisible(slow_window) != FALSE);
    if (slow_visible.back() || slow_visible.size() > 2000) ctx.end_form();
  };
  on_built = [&](std::string_view name, HWND w) {
    (name == "99-LOG" ? log_window : slow_window) = w;
  };
  ScriptedForm& caller = form("F");
  caller.on_open = [&](form::FormContext& ctx) {
    EXPECT_EQ(ctx.run_form_modal("99-LOG"), 0);
    EXPECT_EQ(ctx.run_form_modal("99-log"), 0);
    EXPECT_EQ(ctx.run_form_modal("01-EXPORTA"), 0);
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_THAT(log.events, ElementsAre("open", "close", "open", "close"));
  EXPECT_THAT(log_visible, ElementsAre(false, false));
  EXPECT_THAT(built, ElementsAre("F", "99-LOG", "99-LOG", "01-EXPORTA"));
  ASSERT_GE(slow_visible.size(), 2u);
  EXPECT_FALSE(slow_visible.front());
  EXPECT_TRUE(slow_visible.back());
}

// EndForm only marks the form: the handler runs to its end, with the
// window still there, and FormClose follows once.
TEST_F(Win32RuntimeTest, EndFormTakesEffectWhenTheHandlerReturns) {
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
  EXPECT_THAT(rows, ElementsAre(0, 1));
  EXPECT_THAT(f.events, ElementsAre("open", "tick:T", "close"));
}

// While a handler of a form runs, nested message loops (a called form, a
// message box) must not deliver that form's own ticks or clicks into it.
TEST_F(Win32RuntimeTest, BusyFormReceivesNoTicksOrClicks) {
  ScriptedForm& outer = form("OUTER");
  outer.add_timer("T", 1);  // left running on purpose
  outer.add_control("Bt_Go", form::ControlKind::button, "Go");
  ScriptedForm& inner = form("INNER");
  inner.add_timer("T", 1);
  HWND go = nullptr;
  on_built = [&](std::string_view name, HWND w) {
    if (name == "OUTER") go = find_control(w, "Bt_Go");
  };
  int inner_ticks = 0;
  inner.on_tick = [&](form::FormContext& ctx, std::string_view) {
    click(go);  // the outer form is busy: dropped
    if (++inner_ticks == 20) ctx.end_form();
  };
  outer.on_tick = [&](form::FormContext& ctx, std::string_view) {
    if (inner_ticks == 0) {
      ctx.run_form_modal("INNER");
      click(go);  // still inside the outer handler: dropped
      ctx.show_message_box("x", form::kStyleInformation);
    } else {
      ctx.end_form();
    }
  };
  // A message box of the outer form pumps messages too.
  runtime.set_message_box_hook([&](const std::string&, int) {
    MSG msg;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < 30) {
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    click(go);
  });
  EXPECT_EQ(runtime.run("OUTER"), 0);
  EXPECT_EQ(inner_ticks, 20);
  EXPECT_THAT(outer.events, ElementsAre("open", "tick:T", "tick:T", "close"));
}

// Restarting a slow timer over and over keeps it from ticking until the
// restarts stop; a timer off in the design never ticks.
TEST_F(Win32RuntimeTest, TimerSwitchedOffStopsTicksAndOnRestartsTheInterval) {
  ScriptedForm& f = form("F");
  f.add_timer("Slow", 300);
  f.add_timer("Fast", 5);
  f.add_timer("Off", 1, false);
  int fast = 0;
  f.on_tick = [&](form::FormContext& ctx, std::string_view timer) {
    if (timer == "Fast") {
      if (++fast < 10) {
        ctx.set_timer_enabled("Slow", true);
      } else {
        ctx.set_timer_enabled("Fast", false);
      }
    } else if (timer == "Slow") {
      ctx.end_form();
    }
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_EQ(fast, 10);
  std::vector<std::string> expected(10, "tick:Fast");
  expected.insert(expected.begin(), "open");
  expected.insert(expected.end(), {"tick:Slow", "close"});
  EXPECT_EQ(f.events, expected);
}

TEST_F(Win32RuntimeTest, UnknownFormIsReportedAndReturnsMinusOne) {
  ScriptedForm& f = form("F");
  int result = 0;
  f.on_open = [&](form::FormContext& ctx) {
    result = ctx.run_form_modal("01-NADA   ");
    ctx.end_form();
  };
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("\"01-NADA\""));
  EXPECT_EQ(result, -1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].style, form::kStyleError);
  EXPECT_EQ(boxes[0].text, "Formulário \"01-NADA\" não encontrado !!!");

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runtime.run("NADA"), 1);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("\"NADA\""));
  EXPECT_EQ(boxes.size(), 2u);
}

// An exception must not unwind through the window system: it is reported.
// The start form goes on receiving events; a called form is closed so that
// its caller goes on. A control the form lacks (or of another kind) is
// reported once per form and name, and the operation does nothing.
TEST_F(Win32RuntimeTest, FailingHandlerAndUnknownControlAreReportedAndTheProgramGoesOn) {
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
  EXPECT_THAT(err, HasSubstr("disco cheio"));
  EXPECT_THAT(err, HasSubstr("resposta truncada"));
  for (const char* name : {"\"Lv_Proc\"", "\"Tm_Nada\"", "\"Cm_Nada\""}) {
    const std::size_t first = err.find(name);
    EXPECT_NE(first, std::string::npos) << name;
    EXPECT_EQ(err.find(name, first + 1), std::string::npos) << name;  // once
  }
  EXPECT_EQ(ticks, 2);
  EXPECT_THAT(called.events, ElementsAre("open", "tick:CmTimer1", "close"));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].style, form::kStyleError);
  EXPECT_EQ(boxes[0].text, "Erro no formulário F !!!");
  EXPECT_EQ(boxes[1].text, "Erro no formulário 90-COMANDAS !!!");
}

// A command line runs on a helper thread while the windows stay painted;
// a key pressed meanwhile is dropped, not delivered afterwards (one pressed
// after the command is).
TEST_F(Win32RuntimeTest, WindowsStayPaintedAndTakeNoInputWhileACommandRuns) {
  ScriptedForm& f = form("F");
  f.add_timer("T", 1);
  f.add_timer("Fim", 100, false);
  f.add_control("Lv_Proc", form::ControlKind::list).columns = {{"Status", 500}};
  HWND window = nullptr, list = nullptr;
  on_built = [&](std::string_view, HWND w) {
    window = w;
    list = find_control(w, "Lv_Proc");
  };
  std::vector<std::uint16_t> keys;
  f.on_key = [&](form::FormContext&, std::uint16_t& key, std::uint16_t) { keys.push_back(key); };
  const DWORD gui_thread = GetCurrentThreadId();
  bool painted = false, elsewhere = false;
  struct SlowRunner : platform::CommandRunner {
    std::function<int()> body;
    int run(std::string_view, int) override { return body(); }
  } slow;
  slow.body = [&] {
    elsewhere = GetCurrentThreadId() != gui_thread;
    InvalidateRect(list, nullptr, TRUE);
    PostMessageW(window, WM_KEYDOWN, 'K', 0);
    for (int i = 0; i < 300 && !painted; ++i) {
      Sleep(10);
      painted = GetUpdateRect(list, nullptr, FALSE) == FALSE;
    }
    return 3;
  };
  Win32Runtime slow_runtime(forms, slow);
  slow_runtime.set_form_built_hook([&](std::string_view name, HWND w) { on_built(name, w); });
  int result = 0;
  f.on_tick = [&](form::FormContext& ctx, std::string_view timer) {
    if (timer == "Fim") return ctx.end_form();
    ctx.set_timer_enabled("T", false);
    result = ctx.run_command_line("CMD.EXE /C GET_KAVCMD.bat", 0);
    PostMessageW(window, WM_KEYDOWN, 'L', 0);
    ctx.set_timer_enabled("Fim", true);
  };
  EXPECT_EQ(slow_runtime.run("F"), 0);
  EXPECT_EQ(result, 3);
  EXPECT_TRUE(elsewhere);
  EXPECT_TRUE(painted);
  EXPECT_THAT(keys, ElementsAre(std::uint16_t{'L'}));
}

TEST_F(Win32RuntimeTest, CommandLineLosesTrailingBlanksAndKeepsItsBytes) {
  ScriptedForm& f = form("F");
  runner.result = 7;
  int result = 0;
  f.on_open = [&](form::FormContext& ctx) {
    result = ctx.run_command_line(record::padded("CMD.EXE /C C:\\Temp\\A\xE7\xE3o.bat", 256), 0);
    ctx.run_command_line("   ", 1);
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

TEST_F(Win32RuntimeTest, SetControlVisibleShowsAndHidesAFrameWithItsControls) {
  ScriptedForm& f = form("01-EXPORTA");
  f.add_timer("CmTimer1", 1);
  auto& frame = f.add_control("Frm_Bloq", form::ControlKind::frame, "Aguarde a libera\xE7\xE3o do registro !!");
  frame.visible = false;
  f.add_control("CmStatic1", form::ControlKind::static_text, "Registro").parent = "frm_bloq";
  HWND bloq = nullptr, inside = nullptr;
  on_built = [&](std::string_view, HWND w) {
    bloq = find_control(w, "Frm_Bloq");
    inside = find_control(w, "CmStatic1");
  };
  runtime.set_show_delay_ms(0);
  std::vector<bool> states;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("CmTimer1", false);
    states.push_back(IsWindowVisible(inside) != FALSE);
    ctx.set_control_visible("Frm_Bloq", true);
    states.push_back(IsWindowVisible(bloq) && IsWindowVisible(inside));
    ctx.set_control_visible("frm_bloq  ", false);
    states.push_back(IsWindowVisible(inside) != FALSE);
    ::testing::internal::CaptureStderr();
    ctx.set_control_visible("Frm_Nada", true);  // reported, no harm
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("Frm_Nada"));
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("01-Exporta"), 0);
  EXPECT_THAT(states, ElementsAre(false, true, false));
}

TEST_F(Win32RuntimeTest, CloseButtonEndsOnlyTheStartFormKeysReachTheFormAndEscapeClosesNothing) {
  ScriptedForm& start = form("START");
  start.add_timer("T", 1);
  start.add_control("Bt_Go", form::ControlKind::button, "Go");
  ScriptedForm& called = form("CALLED");
  called.add_timer("T", 30);
  std::vector<std::pair<std::uint16_t, std::uint16_t>> keys;
  start.on_key = [&](form::FormContext&, std::uint16_t& key, std::uint16_t shift) {
    keys.emplace_back(key, shift);
    if (key == 'X') key = 0;  // swallowed
  };
  runtime.set_show_delay_ms(0);
  HWND start_window = nullptr;
  on_built = [&](std::string_view name, HWND w) {
    if (name == "START") start_window = w;
    if (name == "CALLED") {
      SendMessageW(w, WM_CLOSE, 0, 0);  // the called form closes itself
      PostMessageW(w, WM_KEYDOWN, VK_ESCAPE, 0);
    }
  };
  called.on_tick = [](form::FormContext& ctx, std::string_view) { ctx.end_form(); };
  start.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    ctx.run_form_modal("CALLED");
    // The operator presses Escape, X, Shift+F5 on the button, then the
    // window's close button.
    HWND go = find_control(start_window, "Bt_Go");
    PostMessageW(start_window, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(go, WM_KEYDOWN, 'X', 0);
    poll([&, go] {
      BYTE state[256] = {};
      GetKeyboardState(state);
      state[VK_SHIFT] = 0x80;
      SetKeyboardState(state);
      SendMessageW(start_window, WM_NULL, 0, 0);
      PostMessageW(go, WM_KEYDOWN, VK_F5, 0);
      poll([&] {
        BYTE up[256] = {};
        GetKeyboardState(up);
        up[VK_SHIFT] = 0;
        SetKeyboardState(up);
        PostMessageW(start_window, WM_CLOSE, 0, 0);
        return true;
      });
      return true;
    });
  };
  EXPECT_EQ(runtime.run("START"), 0);
  EXPECT_THAT(called.events, ElementsAre("open", "tick:T", "close"));
  EXPECT_THAT(start.events, ElementsAre("open", "tick:T", "close"));
  EXPECT_THAT(keys, ElementsAre(std::make_pair(std::uint16_t{VK_ESCAPE}, std::uint16_t{0}),
                                std::make_pair(std::uint16_t{'X'}, std::uint16_t{0}),
                                std::make_pair(std::uint16_t{VK_F5}, std::uint16_t{1})));
}

}  // namespace
}  // namespace kav::ui::win32
