// The form runtime on native Windows windows (Win32 and the Common Controls):
// a front end of the core (form/runtime.h), which keeps the lifecycle and the
// rules of form.h.
//
// Every opening of a form is a window built from the form's design, run with
// its own nested message loop while the window of the form that called it is
// disabled (not for a form that works in the background: a check), so
// RunFormModal returns only when the called form has closed. While a command
// line runs (on a helper thread) or a form waits (FormContext::wait_ms), the
// windows stay painted; input then reaches only a form below a check, where
// it waits for the check (form.h). One box at a time, each on its own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "form/form.h"
#include "form/runtime.h"
#include "platform/command_runner.h"

struct HWND__;

namespace kav::ui::win32 {

using Window = HWND__*;

// How often the windows are painted while a form is busy.
inline constexpr int kDrawEveryMs = 40;

class Win32Runtime final : private form::FrontEnd {
 public:
  // Replaces the message box: receives the text as the box would show it
  // (UTF-8, trailing blanks removed) and the style (16 error, 64 information).
  using MessageBoxHook = std::function<void(const std::string& text, int style)>;
  // Called once a form's window and controls have been built, before its
  // FormOpen runs: the form's name as designed and its (perhaps still hidden)
  // window; find_control() finds the controls in it.
  using FormBuiltHook = std::function<void(std::string_view form, Window window)>;

  Win32Runtime(form::FormSet& forms, platform::CommandRunner& commands);
  ~Win32Runtime() override;
  Win32Runtime(const Win32Runtime&) = delete;
  Win32Runtime& operator=(const Win32Runtime&) = delete;

  // Shows the start form and returns when it has closed: 0, or 1 when the
  // start form is unknown.
  int run(std::string_view start_form) { return core_.run(start_form); }

  // Opens the named form (case and trailing blanks ignored) and returns when
  // it has closed: 0, or -1 for an unknown name (reported on stderr and in an
  // error box). Forms reach this through FormContext::run_form_modal.
  int run_form_modal(std::string_view name) { return core_.run_form_modal(name); }

  void set_message_box_hook(MessageBoxHook hook) { message_box_hook_ = std::move(hook); }
  void set_form_built_hook(FormBuiltHook hook) { form_built_hook_ = std::move(hook); }
  // Timer intervals are multiplied by `scale` (1 = as designed); a designed
  // interval never becomes shorter than 1 ms.
  void set_time_scale(double scale) { time_scale_ = scale; }
  // How long a called form must stay open before its window shows.
  void set_show_delay_ms(int ms) { core_.set_show_delay_ms(ms); }

  // The number of forms open right now (the start form included).
  int open_forms() const { return core_.open_forms(); }

 private:
  class OpenWindow;

  // form::FrontEnd
  std::unique_ptr<form::Window> open_window(form::Opening& opening, form::Window* over) override;
  void message_box(std::string_view text, int style) override;
  platform::Status run_command(std::string_view line, int window_mode) override;
  void wait(int ms) override;
  void keep_drawn() override;
  std::int64_t now_ms() override;
  void error(std::string_view message) override;

  void message_box(const std::string& title, std::string_view text, int style);
  void pass_input();

  platform::CommandRunner& commands_;
  MessageBoxHook message_box_hook_;
  FormBuiltHook form_built_hook_;
  double time_scale_ = 1.0;
  std::int64_t last_paint_ms_ = 0;
  form::Runtime core_;
};

// The control named `name` (case and trailing blanks ignored) in a form's
// window, or nullptr.
Window find_control(Window form, std::string_view name);

// Runs the start form on the desktop and returns run()'s result. A console
// that was opened only for this program is closed first.
int run_windowed(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form);

// An error box (style 16) shown before any form runs, for a program that
// refuses to start; returns `status`.
int show_refusal(std::string_view caption, std::string_view text, int status);

}  // namespace kav::ui::win32
