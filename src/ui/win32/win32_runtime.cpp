#include "ui/win32/win32_runtime.h"

#include "ui/win32/form_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>
#include <limits>
#include <thread>

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

// Drops the keys and mouse clicks that came while the windows take no input.
void drop_input() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&msg, nullptr, WM_NCMOUSEMOVE, WM_NCMBUTTONDBLCLK, PM_REMOVE)) {
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// One opening of a form: its window, its controls and the operations that its
// handlers call.

class Win32Runtime::OpenForm final : public form::FormContext, public WindowEvents {
 public:
  OpenForm(Win32Runtime& runtime, form::Form& form, HWND owner, bool start_form)
      : runtime_(runtime),
        form_(form),
        start_form_(start_form),
        owner_(owner),
        caption_(form.design().caption),
        window_(form.design(), owner, start_form, *this) {
    for (Control& c : window_.controls()) {
      if (c.kind == form::ControlKind::timer) c.interval_ms = runtime_.scaled_interval(c.interval_ms);
    }
  }

  OpenForm(const OpenForm&) = delete;
  OpenForm& operator=(const OpenForm&) = delete;
  ~OpenForm() override = default;

  HWND hwnd() const { return window_.hwnd(); }
  const std::string& caption() const { return caption_; }

  // Opens, runs and closes the form; returns when it has closed.
  void run() {
    running_ = true;
    if (owner_ != nullptr) EnableWindow(owner_, FALSE);
    opened_at_ = GetTickCount64();
    for (const form::ControlDesign& c : form_.design().controls) {
      if (c.kind == form::ControlKind::timer && c.enabled) start_timer(*window_.find(c.name));
    }
    if (start_form_ || runtime_.show_delay_ms_ <= 0) {
      show();
    } else {
      SetTimer(hwnd(), kShowTimer, static_cast<UINT>(runtime_.show_delay_ms_), nullptr);
    }
    if (runtime_.form_built_hook_) runtime_.form_built_hook_(form_.design().name, hwnd());
    handle([this] { form_.form_open(*this); });
    if (!closing_) {
      in_loop_ = true;
      loop();
      in_loop_ = false;
    }
    closing_ = true;
    KillTimer(hwnd(), kShowTimer);
    for (Control& c : window_.controls()) {
      if (c.kind == form::ControlKind::timer && c.timer_on) stop_timer(c);
    }
    ++busy_;  // an EndForm during FormClose has nothing left to close
    guarded([this] { form_.form_close(*this); });
    --busy_;
    // The caller's window takes input again before this one goes (with the
    // object), so that it is the one that becomes active.
    if (owner_ != nullptr) EnableWindow(owner_, TRUE);
  }

  // ---- FormContext

  int run_form_modal(std::string_view name) override { return runtime_.run_form_modal(name); }

  void end_form() override {
    closing_ = true;  // the window closes when the running handler has returned
  }

  void show_message_box(std::string_view text, int style) override {
    show();  // the box belongs to this form's window
    runtime_.message_box(hwnd(), caption_, text, style);
  }

  int run_command_line(std::string_view command, int window_mode) override {
    show_if_due();
    paint_pending();
    const std::string_view line = record::trim_right(command);
    return drawn_while([&] { return runtime_.commands_.run(line, window_mode); });
  }

  void set_timer_enabled(std::string_view timer, bool on) override {
    Control* t = control(timer, form::ControlKind::timer);
    if (t == nullptr) return;
    if (on) {
      start_timer(*t);  // (re)starts the interval
    } else {
      stop_timer(*t);
    }
  }

  void step_progress(std::string_view bar) override {
    Control* b = control(bar, form::ControlKind::progress);
    if (b == nullptr) return;
    // The bar stops at its ends.
    const long long value = static_cast<long long>(position(*b)) + b->step;
    set_position(*b, static_cast<int>(std::clamp<long long>(value, b->minimum, b->maximum)));
  }

  int get_progress_value(std::string_view bar) override {
    Control* b = control(bar, form::ControlKind::progress);
    return b == nullptr ? 0 : position(*b);
  }

  void set_progress_value(std::string_view bar, int value) override {
    Control* b = control(bar, form::ControlKind::progress);
    if (b != nullptr) set_position(*b, std::clamp(value, b->minimum, b->maximum));
  }

  int add_list_row(std::string_view list, int, int) override {
    Control* l = control(list, form::ControlKind::list);
    if (l == nullptr) return -1;
    auto count = static_cast<int>(SendMessageW(l->window, LVM_GETITEMCOUNT, 0, 0));
    // Only the most recent rows stay: a full list loses its oldest rows at
    // once, drawn again only when they are gone.
    if (count >= form::kListRowLimit) {
      SendMessageW(l->window, WM_SETREDRAW, FALSE, 0);
      for (int i = 0; i < form::kListRowDrop; ++i) SendMessageW(l->window, LVM_DELETEITEM, 0, 0);
      SendMessageW(l->window, WM_SETREDRAW, TRUE, 0);
      count -= form::kListRowDrop;
    }
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = count;
    item.pszText = const_cast<wchar_t*>(L"");
    show_if_due();
    return static_cast<int>(SendMessageW(l->window, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  }

  form::ListRow get_list_row(std::string_view list, int index) override {
    Control* l = control(list, form::ControlKind::list);
    const bool exists = l != nullptr && index >= 0 && index < SendMessageW(l->window, LVM_GETITEMCOUNT, 0, 0);
    return form::ListRow{std::string(list), exists ? index : -1};
  }

  void set_list_row_text(const form::ListRow& row, std::string_view text, int column) override {
    Control* l = row_list(row);
    if (l == nullptr || column < 1 || column > l->columns) return;
    std::wstring shown = wide(record::trim_right(text));
    LVITEMW item{};
    item.iSubItem = column - 1;
    item.pszText = shown.data();
    SendMessageW(l->window, LVM_SETITEMTEXTW, static_cast<WPARAM>(row.index), reinterpret_cast<LPARAM>(&item));
  }

  void show_list_row(const form::ListRow& row) override {
    if (Control* l = row_list(row)) SendMessageW(l->window, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row.index), FALSE);
  }

  void remove_list_row(const form::ListRow& row) override {
    if (Control* l = row_list(row)) SendMessageW(l->window, LVM_DELETEITEM, static_cast<WPARAM>(row.index), 0);
  }

  void refresh_control(std::string_view name) override {
    Control* c = window_.find(name);
    if (c == nullptr || c->window == nullptr) return missing(name);
    show_if_due();
    RedrawWindow(c->window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    paint_pending();  // now, even while the form is busy in a handler
  }

  void set_control_visible(std::string_view name, bool visible) override {
    Control* c = window_.find(name);
    if (c == nullptr || c->window == nullptr) return missing(name);
    // The export switches its frame off after every record it reads: only
    // a real change costs a repaint.
    const bool now = (GetWindowLongW(c->window, GWL_STYLE) & WS_VISIBLE) != 0;
    if (now == visible) return;
    ShowWindow(c->window, visible ? SW_SHOWNA : SW_HIDE);
    show_if_due();
    paint_pending();
  }

  // ---- WindowEvents

  void timer(UINT_PTR id) override {
    if (id == kShowTimer) {
      show();
      return;
    }
    Control* t = window_.find(static_cast<int>(id));
    if (t == nullptr || t->kind != form::ControlKind::timer || !t->timer_on || !ready()) return;
    handle([&] { form_.tick(*this, t->name); });
  }

  void command(int id, int code) override {
    if (code != BN_CLICKED || !ready()) return;
    Control* b = window_.find(id);
    if (b == nullptr || b->kind != form::ControlKind::button) return;
    handle([&] { form_.click(*this, b->name); });
  }

  void close_button() override {
    // Only the start form can be closed by the operator: as EndForm.
    if (!start_form_ || !running_) return;
    closing_ = true;
    finish_if_done();
  }

 private:
  void loop() {
    MSG msg;
    while (!finished_) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0 || got == -1) {
        // The program is being ended from outside: every open form closes.
        if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
        runtime_.quitting_ = true;
        closing_ = true;
        break;
      }
      if (key(msg) || dialog_message(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  // Runs `work` on a helper thread while this one keeps the windows painted
  // (and so answering to the system); input meanwhile is dropped.
  template <class Work>
  int drawn_while(Work&& work) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr) return work();
    int result = 0;
    std::exception_ptr failure;
    std::thread helper([&] {
      try {
        result = work();
      } catch (...) {
        failure = std::current_exception();
      }
      SetEvent(done);
    });
    while (MsgWaitForMultipleObjects(1, &done, FALSE, kDrawEveryMs, QS_INPUT | QS_PAINT) != WAIT_OBJECT_0) {
      drop_input();
      show_if_due();
      paint_pending();
    }
    helper.join();
    CloseHandle(done);
    drop_input();
    if (failure) std::rethrow_exception(failure);
    return result;
  }

  // KeyDown for a key pressed in this form's window; true when the handler
  // swallowed it (set the key code to 0). Otherwise the key goes on, as the
  // handler may have changed it.
  bool key(MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
    if (msg.hwnd != hwnd() && !IsChild(hwnd(), msg.hwnd)) return false;
    if (!ready()) return false;
    auto code = static_cast<std::uint16_t>(msg.wParam);
    std::uint16_t shift = 0;
    if (key_pressed(VK_SHIFT)) shift |= 1;
    if (key_pressed(VK_CONTROL)) shift |= 2;
    if (key_pressed(VK_MENU)) shift |= 4;
    handle([&] { form_.key_down(*this, code, shift); });
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

  void show() {
    KillTimer(hwnd(), kShowTimer);
    if (shown_) return;
    shown_ = true;
    ShowWindow(hwnd(), SW_SHOW);
    // The keyboard starts at the first control that takes it, as in a dialog.
    if (HWND first = GetNextDlgTabItem(hwnd(), nullptr, FALSE)) SetFocus(first);
    UpdateWindow(hwnd());
  }

  void show_if_due() {
    if (!shown_ && GetTickCount64() - opened_at_ >= static_cast<ULONGLONG>(std::max(runtime_.show_delay_ms_, 0))) {
      show();
    }
  }

  void start_timer(Control& t) {
    t.timer_on = true;
    SetTimer(hwnd(), static_cast<UINT_PTR>(t.id), static_cast<UINT>(std::max(t.interval_ms, 1)), nullptr);
  }

  void stop_timer(Control& t) {
    t.timer_on = false;
    KillTimer(hwnd(), static_cast<UINT_PTR>(t.id));
  }

  static int position(const Control& bar) {
    return static_cast<int>(SendMessageW(bar.window, PBM_GETPOS, 0, 0));
  }

  void set_position(const Control& bar, int value) {
    SendMessageW(bar.window, PBM_SETPOS, static_cast<WPARAM>(value), 0);
  }

  // Events are delivered only while the form is neither closing nor inside a
  // handler: a tick or click that comes in meanwhile is dropped.
  bool ready() const { return running_ && !closing_ && busy_ == 0; }

  template <class Handler>
  void handle(Handler&& handler) {
    ++busy_;
    guarded(handler);
    --busy_;
    finish_if_done();
  }

  // A failure that escapes a handler must not unwind through the window
  // system: it is reported and the handler counts as returned. A called form
  // then closes, so that its caller (the monitor waiting for a check) goes on.
  template <class Handler>
  void guarded(Handler&& handler) {
    try {
      handler();
      return;
    } catch (const std::exception& e) {
      runtime_.report_failure(form_.design().name, e.what(), hwnd(), caption_);
    } catch (...) {
      runtime_.report_failure(form_.design().name, "unknown exception", hwnd(), caption_);
    }
    if (!start_form_) closing_ = true;
  }

  void finish_if_done() {
    if (closing_ && busy_ == 0 && in_loop_) {
      finished_ = true;
      PostMessageW(hwnd(), WM_NULL, 0, 0);  // wakes the loop
    }
  }

  Control* control(std::string_view name, form::ControlKind kind) {
    Control* c = window_.find(name);
    if (c == nullptr || c->kind != kind || (kind != form::ControlKind::timer && c->window == nullptr)) {
      missing(name);
      return nullptr;
    }
    return c;
  }

  Control* row_list(const form::ListRow& row) {
    Control* l = control(row.list, form::ControlKind::list);
    if (l == nullptr || row.index < 0 || row.index >= SendMessageW(l->window, LVM_GETITEMCOUNT, 0, 0)) return nullptr;
    return l;
  }

  // Once per form and name for the program's life: a form that names a
  // missing control does so on every tick.
  void missing(std::string_view name) const {
    const std::string control(record::trim_right(name));
    if (!runtime_.reported_.insert(form_.design().name + "|" + control).second) return;
    std::cerr << kProgram << ": form " << form_.design().name << " has no control of that kind named \""
              << utf8(control) << "\"\n";
  }

  Win32Runtime& runtime_;
  form::Form& form_;
  const bool start_form_;
  const HWND owner_;
  const std::string caption_;  // Windows-1252
  bool running_ = false;
  bool closing_ = false;
  bool in_loop_ = false;
  bool finished_ = false;
  bool shown_ = false;
  int busy_ = 0;
  ULONGLONG opened_at_ = 0;
  FormWindow window_;  // last: its messages may reach the members above
};

// ---------------------------------------------------------------------------
// Win32Runtime

Win32Runtime::Win32Runtime(form::FormSet& forms, platform::CommandRunner& commands)
    : forms_(forms), commands_(commands) {}

Win32Runtime::~Win32Runtime() = default;

int Win32Runtime::run(std::string_view start_form) { return run_form_modal(start_form) < 0 ? 1 : 0; }

int Win32Runtime::run_form_modal(std::string_view name) {
  const std::string_view wanted = form::form_name(name);
  const HWND owner = open_.empty() ? nullptr : open_.back()->hwnd();
  const std::string title = open_.empty() ? std::string("KavComanda") : open_.back()->caption();
  form::Form* form = forms_.find(name);
  if (form == nullptr) {
    std::cerr << kProgram << ": RunFormModal: there is no form named \"" << utf8(wanted) << "\"\n";
    message_box(owner, title,
                record::cp1252("Formulário \"") + std::string(wanted) + record::cp1252("\" não encontrado !!!"),
                form::kStyleError);
    return -1;
  }
  OpenForm open(*this, *form, owner, open_.empty());
  if (open.hwnd() == nullptr) {
    report_failure(form->design().name, "its window could not be created", owner, title);
    return -1;
  }
  open_.push_back(&open);
  open.run();
  open_.pop_back();
  return 0;
}

int Win32Runtime::scaled_interval(int interval_ms) const {
  if (interval_ms <= 0) return 0;
  const double scaled = std::round(interval_ms * time_scale_);
  if (!(scaled >= 1)) return 1;  // also for a scale that is no number
  if (scaled >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(scaled);
}

void Win32Runtime::message_box(HWND owner, const std::string& title, std::string_view text, int style) {
  const std::string_view shown = record::trim_right(text);
  if (message_box_hook_) {
    message_box_hook_(utf8(shown), style);
    return;
  }
  const UINT icon = static_cast<UINT>(style) & MB_ICONMASK;
  MessageBoxW(owner, wide(shown).c_str(), wide(title).c_str(), MB_OK | icon | (owner == nullptr ? MB_TASKMODAL : 0));
}

void Win32Runtime::report_failure(std::string_view form, const char* what, HWND owner, const std::string& title) {
  std::cerr << kProgram << ": form " << form << ": a handler failed: " << what << "\n";
  message_box(owner, title, record::cp1252("Erro no formulário ") + std::string(form) + " !!!", form::kStyleError);
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

int show_refusal(std::string_view caption, std::string_view text) {
  MessageBoxW(nullptr, wide(record::trim_right(text)).c_str(), wide(caption).c_str(), MB_OK | MB_ICONERROR);
  return 3;
}

}  // namespace kav::ui::win32
