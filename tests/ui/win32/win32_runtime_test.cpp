#include "ui/win32/win32_runtime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <thread>

#include "ui/runtime_contract_tests.h"
#include "ui/win32/win32_driver.h"
#include "ui/win32/win32_support.h"

namespace kav::ui::contract {
// The contract's shared tests, on native windows.
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RuntimeContractTest, ::kav::ui::win32::testing::Win32Driver);
}  // namespace kav::ui::contract

namespace kav::ui::win32 {
namespace {

using ::kav::ui::contract::ScriptedForm;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace ::kav::ui::win32::testing;

// The native runtime's own looks and ways, beside the shared contract tests.
class Win32RuntimeTest : public contract::RuntimeContractTest<Win32Driver> {};

LOGFONTW font_of(HWND control) {
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
  return lf;
}

TEST_F(Win32RuntimeTest, BuildsEveryControlOfTheDesignOnTheCommonControls6) {
  ScriptedForm& f = every_control_form();
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
  run_every_control_form(f);
}

// Without the hook the operator gets a real box, shown without waiting: it
// stays up after the form that showed it has closed, owned by no window, and
// the monitor's window takes input meanwhile.
TEST_F(Win32RuntimeTest, MessageBoxWithoutHookStaysUpAndHoldsNoWindow) {
  runtime.set_message_box_hook(nullptr);
  runtime.set_show_delay_ms(100000);  // the box must show the form anyway
  ScriptedForm& start = form("START");
  ScriptedForm& f = form("F", "Exporta\xE7\xE3o de Cadastros");
  HWND start_window = nullptr, window = nullptr;
  on_built = [&](std::string_view name, HWND w) { (name == "F" ? window : start_window) = w; };
  bool form_shown = false;
  f.on_open = [&](form::FormContext& ctx) {
    ctx.show_message_box("Aguarde !!!   ", form::kStyleError);
    form_shown = IsWindowVisible(window) != FALSE;
    ctx.end_form();
  };
  struct Seen {
    std::string title, text;
    HWND owner;
  };
  std::vector<Seen> seen;
  bool start_enabled = false;
  start.on_open = [&](form::FormContext& ctx) {
    ctx.run_form_modal("F");
    for (int i = 0; i < 300 && Win32Driver::boxes().empty(); ++i) Sleep(10);
    for (HWND box : Win32Driver::boxes()) {
      HWND text = GetDlgItem(box, 0xFFFF);
      seen.push_back({text_of(box), text == nullptr ? "" : text_of(text), GetWindow(box, GW_OWNER)});
    }
    start_enabled = IsWindowEnabled(start_window) != FALSE;
    Win32Driver::close_boxes(runtime);
    EXPECT_TRUE(Win32Driver::boxes().empty());
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("START"), 0);
  EXPECT_TRUE(form_shown);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "Exportação de Cadastros");
  EXPECT_EQ(seen[0].text, "Aguarde !!!");
  EXPECT_EQ(seen[0].owner, nullptr);
  EXPECT_TRUE(start_enabled);
}

// One box at a time, each closed by its OK, Return or Escape as the operator
// gives them; the window under a box that closed is painted again.
TEST_F(Win32RuntimeTest, EveryBoxClosesWithOkReturnOrEscapeAndLeavesTheWindowBelowToBePainted) {
  runtime.set_message_box_hook(nullptr);
  ScriptedForm& start = form("START");
  HWND start_window = nullptr;
  on_built = [&](std::string_view, HWND w) { start_window = w; };
  const auto wait_for = [](auto done) {
    for (int i = 0; i < 300 && !done(); ++i) Sleep(10);
  };
  std::vector<std::size_t> up;
  std::vector<bool> closed, below_to_paint;
  start.on_open = [&](form::FormContext& ctx) {
    ctx.show_message_box("Primeira", form::kStyleInformation);
    wait_for([] { return !Win32Driver::boxes().empty(); });
    ctx.show_message_box("Segunda", form::kStyleInformation);  // replaces the first
    Sleep(200);
    up.push_back(Win32Driver::boxes().size());
    const auto answers = {std::make_pair(UINT{WM_COMMAND}, WPARAM{0}), std::make_pair(UINT{WM_KEYDOWN}, WPARAM{VK_RETURN}),
                          std::make_pair(UINT{WM_KEYDOWN}, WPARAM{VK_ESCAPE})};
    bool first = true;
    for (const auto& [message, key] : answers) {
      if (!first) {
        ctx.show_message_box("Tecla", form::kStyleInformation);
        wait_for([] { return !Win32Driver::boxes().empty(); });
      }
      first = false;
      RedrawWindow(start_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);  // nothing left to paint
      ASSERT_EQ(Win32Driver::boxes().size(), 1u);
      HWND box = Win32Driver::boxes().front();
      if (message == WM_COMMAND) {
        PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
      } else {
        PostMessageW(box, WM_KEYDOWN, key, 0);
        PostMessageW(box, WM_KEYUP, key, 0);
      }
      wait_for([] { return Win32Driver::boxes().empty(); });
      closed.push_back(Win32Driver::boxes().empty());
      Sleep(50);  // the box's thread ends
      below_to_paint.push_back(GetUpdateRect(start_window, nullptr, FALSE) != FALSE);
    }
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("START"), 0);
  EXPECT_THAT(up, ElementsAre(1u));
  EXPECT_THAT(closed, ElementsAre(true, true, true));
  EXPECT_THAT(below_to_paint, ElementsAre(true, true, true));
}

// A form that shows without the focus (a check's) over or beside another
// has that one painted again, and so does its going: nothing is left blank
// or with the picture of what stood over it.
WNDPROC painted_proc = nullptr;
int paints = 0;
LRESULT CALLBACK counting_paints(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_PAINT) ++paints;
  return CallWindowProcW(painted_proc, w, message, wp, lp);
}

TEST_F(Win32RuntimeTest, AFormShownOrGoneWithoutTheFocusHasTheWindowUnderItPaintedAgain) {
  runtime.set_show_delay_ms(0);
  ScriptedForm& start = form("START");
  start.add_timer("T", 1);
  ScriptedForm& check = form("CHECK");
  check.edit().takes_focus = false;
  check.add_timer("T", 1);
  HWND start_window = nullptr, check_window = nullptr;
  on_built = [&](std::string_view name, HWND w) { (name == "START" ? start_window : check_window) = w; };
  int paints_when_shown = -1;
  bool to_paint_when_gone = false;
  check.on_tick = [&](form::FormContext& ctx, std::string_view) {
    if (IsWindowVisible(check_window) == FALSE) return;
    paints_when_shown = paints;
    RedrawWindow(start_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);  // nothing left to paint
    ctx.end_form();
  };
  start.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    RedrawWindow(start_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    painted_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(start_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(counting_paints)));
    ctx.run_form_modal("CHECK");
    to_paint_when_gone = GetUpdateRect(start_window, nullptr, FALSE) != FALSE || paints > paints_when_shown;
    SetWindowLongPtrW(start_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(painted_proc));
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("START"), 0);
  EXPECT_GT(paints_when_shown, 0);
  EXPECT_TRUE(to_paint_when_gone);
}

// A command line runs on a helper thread while the windows stay painted;
// a key pressed meanwhile is dropped, not delivered afterwards (one pressed
// after the command is).
TEST_F(Win32RuntimeTest, WindowsStayPaintedAndKeepInputForAfterACommandRuns) {
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
    std::function<platform::Status()> body;
    platform::Status run(std::string_view, int) override { return body(); }
  } slow;
  slow.body = [&] {
    elsewhere = GetCurrentThreadId() != gui_thread;
    InvalidateRect(list, nullptr, TRUE);
    PostMessageW(window, WM_KEYDOWN, 'K', 0);
    for (int i = 0; i < 300 && !painted; ++i) {
      Sleep(10);
      painted = GetUpdateRect(list, nullptr, FALSE) == FALSE;
    }
    return platform::Status::exited(3);
  };
  Win32Runtime slow_runtime(forms, slow);
  slow_runtime.set_form_built_hook([&](std::string_view name, HWND w) { on_built(name, w); });
  int result = 0;
  f.on_tick = [&](form::FormContext& ctx, std::string_view timer) {
    if (timer == "Fim") return ctx.end_form();
    ctx.set_timer_enabled("T", false);
    result = ctx.run_command_line("CMD.EXE /C GET_KAVCMD.bat", 0).exit_code();
    PostMessageW(window, WM_KEYDOWN, 'L', 0);
    ctx.set_timer_enabled("Fim", true);
  };
  EXPECT_EQ(slow_runtime.run("F"), 0);
  EXPECT_EQ(result, 3);
  EXPECT_TRUE(elsewhere);
  EXPECT_TRUE(painted);
  // The key pressed meanwhile is not lost: it comes after the handler, in order.
  EXPECT_THAT(keys, ElementsAre(std::uint16_t{'K'}, std::uint16_t{'L'}));
}

// A form that waits inside its handler (the export, while the ERP holds a
// record locked) keeps the window alive: a paint is done and a message sent
// by another thread is answered during the wait, as the system asks of a
// window that is not hung (a plain sleep would leave both for after the
// wait). A key pressed meanwhile is dropped; one pressed after is delivered.
TEST_F(Win32RuntimeTest, AWaitKeepsTheWindowPaintedAndAnsweringAndKeepsInputForAfter) {
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
  constexpr int kWaitMs = 1500;
  bool painted = false, answered = false;
  ULONGLONG answered_after = 0, waited = 0;
  f.on_tick = [&](form::FormContext& ctx, std::string_view timer) {
    if (timer == "Fim") return ctx.end_form();
    ctx.set_timer_enabled("T", false);
    const ULONGLONG start = GetTickCount64();
    std::thread other([&] {
      InvalidateRect(list, nullptr, TRUE);
      PostMessageW(window, WM_KEYDOWN, 'K', 0);
      DWORD_PTR reply = 0;
      answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &reply) != 0;
      answered_after = GetTickCount64() - start;
      for (int i = 0; i < 100 && !painted; ++i) {
        painted = GetUpdateRect(list, nullptr, FALSE) == FALSE;
        if (!painted) Sleep(10);
      }
    });
    ctx.wait_ms(kWaitMs);
    waited = GetTickCount64() - start;
    other.join();
    PostMessageW(window, WM_KEYDOWN, 'L', 0);
    ctx.set_timer_enabled("Fim", true);
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_TRUE(answered);
  EXPECT_LT(answered_after, static_cast<ULONGLONG>(kWaitMs));
  EXPECT_TRUE(painted);
  EXPECT_GE(waited, static_cast<ULONGLONG>(kWaitMs - 20));  // the tick count's grain
  // The key pressed meanwhile is not lost: it comes after the handler, in order.
  EXPECT_THAT(keys, ElementsAre(std::uint16_t{'K'}, std::uint16_t{'L'}));
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

// Logoff or shutdown: Windows may end the process as soon as WM_ENDSESSION
// returns, so the start form closes inside it, FormClose run to its end.
TEST_F(Win32RuntimeTest, TheSessionsEndClosesTheStartFormBeforeItsMessageReturns) {
  ScriptedForm& start = form("START");
  start.add_timer("T", 1);
  HWND start_window = nullptr;
  on_built = [&](std::string_view name, HWND w) {
    if (name == "START") start_window = w;
  };
  start.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    poll([&] {
      EXPECT_EQ(SendMessageW(start_window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
      EXPECT_THAT(start.events, ElementsAre("open", "tick:T"));
      SendMessageW(start_window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
      EXPECT_THAT(start.events, ElementsAre("open", "tick:T", "close"));
      return true;
    });
  };
  EXPECT_EQ(runtime.run("START"), 0);
  EXPECT_THAT(start.events, ElementsAre("open", "tick:T", "close"));
}

// Inside a check the start form cannot close: the check ends first, then
// the start form, as a stop request would have it. A cancelled end changes
// nothing.
TEST_F(Win32RuntimeTest, TheSessionsEndDuringACheckClosesTheStartFormWhenTheCheckEnds) {
  ScriptedForm& start = form("START");
  start.add_timer("T", 1);
  ScriptedForm& called = form("CALLED");
  called.add_timer("T", 1);
  HWND start_window = nullptr;
  on_built = [&](std::string_view name, HWND w) {
    if (name == "START") start_window = w;
  };
  called.on_tick = [&](form::FormContext& ctx, std::string_view) {
    SendMessageW(start_window, WM_ENDSESSION, FALSE, 0);
    SendMessageW(start_window, WM_ENDSESSION, TRUE, 0);
    EXPECT_THAT(start.events, ElementsAre("open", "tick:T"));
    ctx.end_form();
  };
  start.on_tick = [&](form::FormContext& ctx, std::string_view) { ctx.run_form_modal("CALLED"); };
  EXPECT_EQ(runtime.run("START"), 0);
  EXPECT_THAT(called.events, ElementsAre("open", "tick:T", "close"));
  EXPECT_THAT(start.events, ElementsAre("open", "tick:T", "close"));
}

}  // namespace
}  // namespace kav::ui::win32
