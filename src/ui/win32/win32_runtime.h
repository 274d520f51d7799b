// The form runtime on native Windows windows (Win32 and the Common Controls).
//
// Every opening of a form is a window built from the form's design, run with
// its own nested message loop while the window of the form that called it is
// disabled, so RunFormModal returns only when the called form has closed.
// Events reach the form's handlers one at a time on the GUI thread; while a
// handler of a form is running, that form receives no further event (its
// timer ticks and clicks are dropped, not queued), so no handler ever runs
// nested inside itself. A failure that escapes a handler is reported and the
// program goes on (a called form whose handler failed is closed, so that its
// caller goes on); so does an operation on a control the form lacks,
// reported once per form and name.
//
// Windows: the start form shows at once; any other form shows only when it
// is still open form::kShowDelayMs after it opened. While a command line runs (on
// a helper thread) the windows stay painted and take no input.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "form/form.h"
#include "platform/command_runner.h"

struct HWND__;

namespace kav::ui::win32 {

using Window = HWND__*;

// Lists keep their most recent rows as the contract says (form::kListRowLimit,
// form::kListRowDrop). A called form appears only once it has stayed open
// form::kShowDelayMs, so the forms that open and close within a moment (the
// log form on every check) never flash a window.
// How often the windows are painted while a command line runs.
inline constexpr int kDrawEveryMs = 40;

class Win32Runtime {
 public:
  // Replaces the message box: receives the text as the box would show it
  // (UTF-8, trailing blanks removed) and the style (16 error, 64 information).
  using MessageBoxHook = std::function<void(const std::string& text, int style)>;
  // Called once a form's window and controls have been built, before its
  // FormOpen runs: the form's name as designed and its (perhaps still hidden)
  // window; find_control() finds the controls in it.
  using FormBuiltHook = std::function<void(std::string_view form, Window window)>;

  Win32Runtime(form::FormSet& forms, platform::CommandRunner& commands);
  ~Win32Runtime();
  Win32Runtime(const Win32Runtime&) = delete;
  Win32Runtime& operator=(const Win32Runtime&) = delete;

  // Shows the start form and returns when it has closed: 0, or 1 when the
  // start form is unknown.
  int run(std::string_view start_form);

  // Opens the named form (case and trailing blanks ignored) and returns when
  // it has closed: 0, or -1 for an unknown name (reported on stderr and in an
  // error box). Forms reach this through FormContext::run_form_modal.
  int run_form_modal(std::string_view name);

  void set_message_box_hook(MessageBoxHook hook) { message_box_hook_ = std::move(hook); }
  void set_form_built_hook(FormBuiltHook hook) { form_built_hook_ = std::move(hook); }
  // Timer intervals are multiplied by `scale` (1 = as designed); a designed
  // interval never becomes shorter than 1 ms.
  void set_time_scale(double scale) { time_scale_ = scale; }
  // How long a called form must stay open before its window shows.
  void set_show_delay_ms(int ms) { show_delay_ms_ = ms; }

  // The number of forms open right now (the start form included).
  int open_forms() const { return static_cast<int>(open_.size()); }

 private:
  class OpenForm;
  friend class OpenForm;

  int scaled_interval(int interval_ms) const;
  void message_box(Window owner, const std::string& title, std::string_view text, int style);
  void report_failure(std::string_view form, const char* what, Window owner, const std::string& title);

  form::FormSet& forms_;
  platform::CommandRunner& commands_;
  MessageBoxHook message_box_hook_;
  FormBuiltHook form_built_hook_;
  double time_scale_ = 1.0;
  int show_delay_ms_ = form::kShowDelayMs;
  bool quitting_ = false;
  std::set<std::string> reported_;  // "form|control" already reported missing
  std::vector<OpenForm*> open_;  // innermost last
};

// The control named `name` (case and trailing blanks ignored) in a form's
// window, or nullptr.
Window find_control(Window form, std::string_view name);

// Runs the start form on the desktop and returns run()'s result. A console
// that was opened only for this program is closed first.
int run_windowed(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form);

// An error box (style 16) shown before any form runs, for a program that
// refuses to start; returns 3, the refusal's exit status.
int show_refusal(std::string_view caption, std::string_view text);

}  // namespace kav::ui::win32
