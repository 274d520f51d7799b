#include "ui/win32/win32_runtime.h"

#include "ui/win32/boxes.h"
#include "ui/win32/form_window.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <thread>

#include "form/placement.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::ui::win32 {

namespace {

constexpr const char* kProgram = "kavcomanda";
constexpr UINT_PTR kShowTimer = 1;  // control ids start above it
constexpr int kPaintBound = 64;     // paint messages handled in one go

std::string utf8(std::string_view cp1252_text) { return record::to_utf8(cp1252_text); }

bool key_pressed(int virtual_key) { return (GetKeyState(virtual_key) & 0x8000) != 0; }

// Paints what is waiting to be painted in every window of the program, so a
// form that is busy (a command, a long export) does not stand there blank.
void paint_pending() {
  MSG msg;
  for (int i = 0; i < kPaintBound && PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i) {
    DispatchMessageW(&msg);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// The window of one opening of a form and its controls.

class Win32Runtime::OpenWindow final : public form::Window, public WindowEvents {
 public:
  OpenWindow(Win32Runtime& runtime, form::Opening& opening, HWND owner)
      : runtime_(runtime),
        opening_(opening),
        owner_(owner),
        caption_(opening.design().caption),
        window_(opening.design(), owner, opening.start_form(), *this) {
    for (Control& c : window_.controls()) {
      if (c.kind == form::ControlKind::timer) c.interval_ms = form::scaled_interval(c.interval_ms, runtime_.time_scale_);
    }
  }

  OpenWindow(const OpenWindow&) = delete;
  OpenWindow& operator=(const OpenWindow&) = delete;
  ~OpenWindow() override = default;

  HWND hwnd() const { return window_.hwnd(); }

  void opened() override {
    if (runtime_.form_built_hook_) runtime_.form_built_hook_(opening_.name(), hwnd());
  }

  void show() override {
    KillTimer(hwnd(), kShowTimer);
    if (!opening_.design().takes_focus) {
      place_beside();
      ShowWindow(hwnd(), SW_SHOWNOACTIVATE);  // the operator's window keeps the focus
    } else {
      ShowWindow(hwnd(), SW_SHOW);
      // The keyboard starts at the first control that takes it, as in a dialog.
      if (HWND first = GetNextDlgTabItem(hwnd(), nullptr, FALSE)) SetFocus(first);
    }
    UpdateWindow(hwnd());
    // A window shown beside or over another (the order form over the
    // reprint list) leaves that one drawn whole, not blank.
    redraw_windows(GetCurrentThreadId(), hwnd());
    paint_pending();
  }

  void show_later(int ms) override { SetTimer(hwnd(), kShowTimer, static_cast<UINT>(ms), nullptr); }

  void closed() override {
    KillTimer(hwnd(), kShowTimer);
    // The caller's window takes input again before this one goes (with the
    // object), so that it is the one that becomes active.
    if (owner_ != nullptr && opening_.design().takes_focus) EnableWindow(owner_, TRUE);
    for (HWND button : held_) SendMessageW(button, BM_SETSTATE, FALSE, 0);
    held_.clear();
    // Gone from the screen now, and what stood under it drawn again.
    ShowWindow(hwnd(), SW_HIDE);
    redraw_windows(GetCurrentThreadId(), hwnd());
  }

  void run_events() override {
    MSG msg;
    while (!finished_) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0 || got == -1) {
        // The program is being ended from outside: every open form closes.
        if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (key(msg) || dialog_message(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  void quit_events() override {
    finished_ = true;
    PostMessageW(hwnd(), WM_NULL, 0, 0);  // wakes the loop
  }

  void message_box(std::string_view text, int style) override {
    runtime_.message_box(caption_, text, style);
  }

  // The box runs on a thread of its own (boxes.h) and posts its answer to
  // this window.
  void ask(std::string_view text, std::string_view question) override {
    question_ = std::string(question);
    const std::string_view shown = record::trim_right(text);
    if (runtime_.message_box_hook_) {  // the hook stands for an operator who says "Sim"
      runtime_.message_box_hook_(utf8(shown), form::kStyleQuestion);
      opening_.answer(question_, true);
      return;
    }
    ask_box(wide(shown), wide(caption_), hwnd());
  }

  void click_waits(const form::ControlDesign& button, bool waits) override {
    HWND b = control(button);
    SendMessageW(b, BM_SETSTATE, waits ? TRUE : FALSE, 0);
    if (waits) {
      held_.push_back(b);
    } else {
      held_.erase(std::remove(held_.begin(), held_.end(), b), held_.end());
    }
    SetCursor(LoadCursorW(nullptr, held_.empty() ? MAKEINTRESOURCEW(32512) : MAKEINTRESOURCEW(32650)));  // IDC_ARROW, IDC_APPSTARTING
  }

  // Input for this window while a handler runs: dispatched when the form
  // takes it (it then waits for the handler), dropped otherwise.
  bool takes_input() const { return opening_.takes_input(); }
  void input(MSG& msg) {
    if (key(msg) || dialog_message(msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  void start_timer(const form::ControlDesign& timer) override {
    Control& t = *window_.find(timer.name);
    t.timer_on = true;
    SetTimer(hwnd(), static_cast<UINT_PTR>(t.id), static_cast<UINT>(std::max(t.interval_ms, 1)), nullptr);
  }

  void stop_timer(const form::ControlDesign& timer) override {
    Control& t = *window_.find(timer.name);
    t.timer_on = false;
    KillTimer(hwnd(), static_cast<UINT_PTR>(t.id));
  }

  void set_position(const form::ControlDesign& bar, int position) override {
    SendMessageW(control(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }

  void add_row(const form::ControlDesign& list) override {
    HWND l = control(list);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageW(l, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(l, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }

  // Drawn again only when they are all gone.
  void drop_oldest_rows(const form::ControlDesign& list, int count) override {
    HWND l = control(list);
    SendMessageW(l, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < count; ++i) SendMessageW(l, LVM_DELETEITEM, 0, 0);
    SendMessageW(l, WM_SETREDRAW, TRUE, 0);
  }

  void remove_row(const form::ControlDesign& list, int row) override {
    SendMessageW(control(list), LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
  }

  void set_row_text(const form::ControlDesign& list, int row, int column, std::string_view text) override {
    std::wstring shown = wide(record::trim_right(text));
    LVITEMW item{};
    item.iSubItem = column - 1;
    item.pszText = shown.data();
    SendMessageW(control(list), LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  }

  void show_row(const form::ControlDesign& list, int row) override {
    SendMessageW(control(list), LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
  }

  int selected_row(const form::ControlDesign& list) override {
    return static_cast<int>(SendMessageW(control(list), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }

  void select_row(const form::ControlDesign& list, int row) override {
    HWND l = control(list);
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    SendMessageW(l, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    if (row < 0) return;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(l, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    SendMessageW(l, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
  }

  void refresh(const form::ControlDesign& c) override {
    RedrawWindow(control(c), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    paint_pending();  // now, even while the form is busy in a handler
  }

  void set_visible(const form::ControlDesign& c, bool visible) override {
    ShowWindow(control(c), visible ? SW_SHOWNA : SW_HIDE);
    paint_pending();
  }

  // ---- WindowEvents

  void timer(UINT_PTR id) override {
    if (id == kShowTimer) {
      opening_.show_now();
      return;
    }
    const Control* t = window_.find(static_cast<int>(id));
    if (t != nullptr && t->kind == form::ControlKind::timer) opening_.tick(t->name);
  }

  void command(int id, int code) override {
    if (code != BN_CLICKED) return;
    const Control* b = window_.find(id);
    if (b != nullptr && b->kind == form::ControlKind::button) opening_.click(b->name);
  }

  void close_button() override { opening_.close_button(); }

  void answered(bool yes) override {
    if (!question_.empty()) opening_.answer(question_, yes);
  }

  // The start form ends as a stop request ends it, and closes here, its
  // FormClose run to its end. Inside a check or an export it cannot: the
  // stop then waits for them, if Windows waits that long.
  void session_ends() override { runtime_.core_.stop_now(); }

 private:
  HWND control(const form::ControlDesign& c) { return window_.find(c.name)->window; }

  // KeyDown for a key pressed in this form's window; true when the handler
  // swallowed it (set the key code to 0). Otherwise the key goes on, as the
  // handler may have changed it.
  bool key(MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
    if (msg.hwnd != hwnd() && !IsChild(hwnd(), msg.hwnd)) return false;
    auto code = static_cast<std::uint16_t>(msg.wParam);
    std::uint16_t shift = 0;
    if (key_pressed(VK_SHIFT)) shift |= 1;
    if (key_pressed(VK_CONTROL)) shift |= 2;
    if (key_pressed(VK_MENU)) shift |= 4;
    if (!opening_.key_down(code, shift)) return false;
    if (code == 0) return true;
    msg.wParam = code;
    return false;
  }

  // Tab moves between the controls. Enter and Escape do nothing by
  // themselves: Enter must not press a button behind the operator's back,
  // and a form closes itself.
  bool dialog_message(MSG& msg) {
    if ((msg.message == WM_KEYDOWN || msg.message == WM_CHAR) &&
        (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
      return false;
    }
    return IsDialogMessageW(hwnd(), &msg) != FALSE;
  }

  // A form that works in the background stands beside the forms open below
  // it, on the same screen, covering none of them (form/placement.h).
  void place_beside() {
    RECT taken{};
    bool any = false;
    for (form::Opening* o : runtime_.core_.openings()) {
      if (o == &opening_) break;
      HWND w = static_cast<OpenWindow&>(o->window()).hwnd();
      RECT r{};
      if (!IsWindowVisible(w) || !GetWindowRect(w, &r)) continue;
      if (any) {
        UnionRect(&taken, &taken, &r);
      } else {
        taken = r;
        any = true;
      }
    }
    if (!any) return;
    MONITORINFO screen{};
    screen.cbSize = sizeof(screen);
    if (!GetMonitorInfoW(MonitorFromRect(&taken, MONITOR_DEFAULTTONEAREST), &screen)) return;
    const RECT area = screen.rcWork;
    RECT own{};
    GetWindowRect(hwnd(), &own);
    const form::Spot at = form::place_beside(
        {static_cast<int>(taken.left), static_cast<int>(taken.top), static_cast<int>(taken.right - taken.left),
         static_cast<int>(taken.bottom - taken.top)},
        {static_cast<int>(area.left), static_cast<int>(area.top), static_cast<int>(area.right - area.left),
         static_cast<int>(area.bottom - area.top)},
        static_cast<int>(own.right - own.left), static_cast<int>(own.bottom - own.top));
    SetWindowPos(hwnd(), nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  Win32Runtime& runtime_;
  form::Opening& opening_;
  const HWND owner_;
  std::string question_;      // the question asked last
  std::vector<HWND> held_;    // buttons whose click waits
  const std::string caption_;  // Windows-1252
  bool finished_ = false;
  FormWindow window_;  // last: its messages may reach the members above
};

// ---------------------------------------------------------------------------
// Win32Runtime

Win32Runtime::Win32Runtime(form::FormSet& forms, platform::CommandRunner& commands)
    : commands_(commands), core_(forms, *this) {}

Win32Runtime::~Win32Runtime() = default;

std::unique_ptr<form::Window> Win32Runtime::open_window(form::Opening& opening, form::Window* over) {
  const HWND owner = over == nullptr ? nullptr : static_cast<OpenWindow*>(over)->hwnd();
  auto window = std::make_unique<OpenWindow>(*this, opening, owner);
  if (window->hwnd() == nullptr) return nullptr;
  // A form that works in the background leaves the operator's window taking input.
  if (owner != nullptr && opening.design().takes_focus) EnableWindow(owner, FALSE);
  return window;
}

// With no form open nothing else runs: the box waits for its OK.
void Win32Runtime::message_box(std::string_view text, int style) {
  const std::string_view shown = record::trim_right(text);
  if (message_box_hook_) {
    message_box_hook_(utf8(shown), style);
    return;
  }
  const UINT icon = static_cast<UINT>(style) & MB_ICONMASK;
  MessageBoxW(nullptr, wide(shown).c_str(), L"KavComanda", MB_OK | icon | MB_TASKMODAL);
}

// A form's box returns at once and stays up until its OK (boxes.h).
void Win32Runtime::message_box(const std::string& title, std::string_view text, int style) {
  const std::string_view shown = record::trim_right(text);
  if (message_box_hook_) {
    message_box_hook_(utf8(shown), style);
    return;
  }
  show_box(wide(shown), wide(title), MB_OK | (static_cast<UINT>(style) & MB_ICONMASK) | MB_SETFOREGROUND | MB_TOPMOST);
}

// Input that comes while handlers run: a form below a check takes it (it
// waits for the handler, form.h); the rest is dropped.
void Win32Runtime::pass_input() {
  MSG msg;
  auto owner_of = [this](HWND target) -> OpenWindow* {
    const HWND root = GetAncestor(target, GA_ROOT);
    for (form::Opening* o : core_.openings()) {
      auto& w = static_cast<OpenWindow&>(o->window());
      if (w.hwnd() == root) return &w;
    }
    return nullptr;
  };
  static constexpr std::pair<UINT, UINT> kInput[] = {
      {WM_KEYFIRST, WM_KEYLAST}, {WM_MOUSEFIRST, WM_MOUSELAST}, {WM_NCMOUSEMOVE, WM_NCMBUTTONDBLCLK}};
  for (const auto& [first, last] : kInput) {
    while (PeekMessageW(&msg, nullptr, first, last, PM_REMOVE)) {
      OpenWindow* w = msg.hwnd != nullptr ? owner_of(msg.hwnd) : nullptr;
      if (w != nullptr && w->takes_input()) w->input(msg);
    }
  }
}

void Win32Runtime::error(std::string_view message) { std::cerr << kProgram << ": " << message << "\n"; }

std::int64_t Win32Runtime::now_ms() { return static_cast<std::int64_t>(GetTickCount64()); }

void Win32Runtime::keep_drawn() {
  core_.show_due();
  const std::int64_t now = now_ms();
  if (now - last_paint_ms_ < kDrawEveryMs) return;
  last_paint_ms_ = now;
  paint_pending();
}

// The command runs on a helper thread while this one keeps the windows
// painted (and so answering to the system); input meanwhile is dropped.
platform::Status Win32Runtime::run_command(std::string_view line, int window_mode) {
  core_.show_due();
  paint_pending();
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (done == nullptr) return commands_.run(line, window_mode);
  platform::Status result;
  std::exception_ptr failure;
  std::thread helper([&] {
    try {
      result = commands_.run(line, window_mode);
    } catch (...) {
      failure = std::current_exception();
    }
    SetEvent(done);
  });
  while (MsgWaitForMultipleObjects(1, &done, FALSE, kDrawEveryMs, QS_INPUT | QS_PAINT) != WAIT_OBJECT_0) {
    pass_input();
    core_.show_due();
    paint_pending();
  }
  helper.join();
  CloseHandle(done);
  pass_input();
  if (failure) std::rethrow_exception(failure);
  return result;
}

// A wait on this thread that goes on answering the system: paints, messages
// sent from other threads and the show delay; input meanwhile is dropped
// and no timer of the busy forms ticks (their WM_TIMER stays queued).
void Win32Runtime::wait(int ms) {
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(ms);
  for (;;) {
    pass_input();
    core_.show_due();
    paint_pending();
    const ULONGLONG now = GetTickCount64();
    if (now >= until) break;
    const auto rest = static_cast<DWORD>(std::min<ULONGLONG>(until - now, kDrawEveryMs));
    MsgWaitForMultipleObjects(0, nullptr, FALSE, rest, QS_INPUT | QS_PAINT | QS_SENDMESSAGE);
  }
  last_paint_ms_ = now_ms();
}

// ---------------------------------------------------------------------------

int run_windowed(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form) {
  // Started from the desktop, a console program gets a console window of its
  // own; closing it would end the monitor. Close it unless it is shared.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
  Win32Runtime runtime(forms, commands);
  return runtime.run(start_form);
}

int show_refusal(std::string_view caption, std::string_view text, int status) {
  MessageBoxW(nullptr, wide(record::trim_right(text)).c_str(), wide(caption).c_str(), MB_OK | MB_ICONERROR);
  return status;
}

}  // namespace kav::ui::win32
