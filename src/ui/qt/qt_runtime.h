// The form runtime on real windows (Qt Widgets).
//
// Every opening of a form is a modal dialog built from the form's design and
// run with its own nested event loop, so RunFormModal returns only when the
// called form has closed. Events reach the form's handlers one at a time on
// the GUI thread; while a handler of a form is running, that form receives
// no further event (its timer ticks and clicks are dropped, not queued), so
// no handler ever runs nested inside itself.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "form/form.h"
#include "platform/command_runner.h"

class QWidget;

namespace kav::ui::qt {

class QtRuntime {
 public:
  // Replaces the modal message box: receives the text as the box would show
  // it (UTF-8, trailing blanks removed) and the style (16 error, 64 information).
  using MessageBoxHook = std::function<void(const std::string& text, int style)>;
  // Called once a form's window has been built and shown, before its
  // FormOpen runs: the form's name as designed and its window, whose child
  // widgets carry the control names as objectName.
  using FormShownHook = std::function<void(std::string_view form, QWidget& window)>;

  QtRuntime(form::FormSet& forms, platform::CommandRunner& commands);
  ~QtRuntime();
  QtRuntime(const QtRuntime&) = delete;
  QtRuntime& operator=(const QtRuntime&) = delete;

  // Shows the start form and returns when it has closed: 0, or 1 when the
  // start form is unknown or there is no QApplication.
  int run(std::string_view start_form);

  // Opens the named form (case and trailing blanks ignored) and returns when
  // it has closed: 0, or -1 for an unknown name (reported on stderr and in an
  // error box). Forms reach this through FormContext::run_form_modal.
  int run_form_modal(std::string_view name);

  void set_message_box_hook(MessageBoxHook hook) { message_box_hook_ = std::move(hook); }
  void set_form_shown_hook(FormShownHook hook) { form_shown_hook_ = std::move(hook); }
  // Timer intervals are multiplied by `scale` (1 = as designed); a designed
  // interval never becomes shorter than 1 ms.
  void set_time_scale(double scale) { time_scale_ = scale; }

  // The number of forms open right now (the start form included).
  int open_forms() const { return static_cast<int>(open_.size()); }

 private:
  class OpenForm;
  friend class OpenForm;

  int scaled_interval(int interval_ms) const;
  void message_box(QWidget* parent, const std::string& title, std::string_view text, int style);
  void report_unknown_form(std::string_view name);
  void report_failure(std::string_view form, const char* what, QWidget* parent, const std::string& title);

  form::FormSet& forms_;
  platform::CommandRunner& commands_;
  MessageBoxHook message_box_hook_;
  FormShownHook form_shown_hook_;
  double time_scale_ = 1.0;
  std::vector<OpenForm*> open_;  // innermost last
};

// Creates the QApplication, runs the start form and returns run()'s result.
int run_windowed(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form, int& argc,
                 char** argv);

// A message box of style 16 (error) with `text` (Windows-1252) and nothing
// else, for a program that must not start; returns the exit status 3.
int show_refusal(std::string_view caption, std::string_view text, int& argc, char** argv);

}  // namespace kav::ui::qt
