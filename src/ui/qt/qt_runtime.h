// The form runtime on real windows (Qt Widgets): a front end of the core
// (form/runtime.h), which keeps the lifecycle and the rules of form.h.
//
// Every opening of a form is a modal dialog built from the form's design and
// run with its own nested event loop, so RunFormModal returns only when the
// called form has closed.
//
// While handlers are busy the windows stay drawn: a command line runs on a
// helper thread while the GUI thread paints, a wait (FormContext::wait_ms)
// runs an event loop, and the operations of the contract let pending paints
// through at most every kDrawEveryMs. Mouse and key input reaches the
// innermost form that the operator uses, and while a check runs over it
// (a form that works in the background: never modal, never taking the focus,
// placed beside the forms below it) the input waits for the check (form.h).
// A form's box is application-modal but does not block: one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QMessageBox>
#include <QPointer>

#include "form/form.h"
#include "form/runtime.h"
#include "platform/command_runner.h"

class QWidget;

namespace kav::ui::qt {

inline constexpr int kDrawEveryMs = 40;

class QtRuntime final : private form::FrontEnd {
 public:
  // Replaces the modal message box: receives the text as the box would show
  // it (UTF-8, trailing blanks removed) and the style (16 error, 64 information).
  // A question (style 32) goes there too and is answered "Sim".
  using MessageBoxHook = std::function<void(const std::string& text, int style)>;
  // Called once a form's window has been built (and, for the start form,
  // shown), before its FormOpen runs: the form's name as designed and its
  // window, whose child widgets carry the control names as objectName.
  using FormShownHook = std::function<void(std::string_view form, QWidget& window)>;

  QtRuntime(form::FormSet& forms, platform::CommandRunner& commands);
  ~QtRuntime() override;
  QtRuntime(const QtRuntime&) = delete;
  QtRuntime& operator=(const QtRuntime&) = delete;

  // Shows the start form and returns when it has closed: 0, or 1 when the
  // start form is unknown or there is no QApplication.
  int run(std::string_view start_form);

  // Opens the named form (case and trailing blanks ignored) and returns when
  // it has closed: 0, or -1 for an unknown name (reported on stderr and in an
  // error box). Forms reach this through FormContext::run_form_modal.
  int run_form_modal(std::string_view name) { return core_.run_form_modal(name); }

  void set_message_box_hook(MessageBoxHook hook) { message_box_hook_ = std::move(hook); }
  void set_form_shown_hook(FormShownHook hook) { form_shown_hook_ = std::move(hook); }
  // How long a called form must stay open before its window shows.
  void set_show_delay_ms(int ms) { core_.set_show_delay_ms(ms); }
  // Timer intervals are multiplied by `scale` (1 = as designed); a designed
  // interval never becomes shorter than 1 ms, except at a scale of 0, where
  // every timer fires as soon as the event loop is idle (benchmarks).
  void set_time_scale(double scale) { time_scale_ = scale; }

  // The number of forms open right now (the start form included).
  int open_forms() const { return core_.open_forms(); }

  // Ends the start form as EndForm would, as soon as no other form is open
  // and none of its handlers runs (a signal asking the program to end).
  void request_stop() { core_.request_stop(); }

 private:
  class Window;
  class InputGate;

  // form::FrontEnd
  std::unique_ptr<form::Window> open_window(form::Opening& opening, form::Window* over) override;
  void message_box(std::string_view text, int style) override;
  platform::Status run_command(std::string_view line, int window_mode) override;
  void wait(int ms) override;
  void keep_drawn() override { pump(false); }
  std::int64_t now_ms() override;
  void error(std::string_view message) override;

  void message_box(const std::string& title, std::string_view text, int style);
  void ask(form::Opening& opening, const std::string& title, std::string_view text, const std::string& question);
  // Shows a form's box (a message or a question) in place of the one open.
  void show_box(QMessageBox* box);
  static std::unique_ptr<QMessageBox> make_box(const std::string& title, const std::string& text, int style,
                                               QWidget* parent);
  void pump(bool now);

  platform::CommandRunner& commands_;
  MessageBoxHook message_box_hook_;
  FormShownHook form_shown_hook_;
  double time_scale_ = 1.0;
  std::int64_t last_pump_ms_ = 0;
  std::unique_ptr<InputGate> gate_;
  QPointer<QMessageBox> box_;            // the form's box open now
  form::Opening* asking_ = nullptr;      // the form whose question box_ is
  form::Runtime core_;
};

// Creates the QApplication, runs the start form and returns run()'s result.
// SIGINT and SIGTERM end the start form as "Sair" does, once no other form
// is open.
int run_windowed(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form, int& argc,
                 char** argv);

// A message box of style 16 (error) with `text` (Windows-1252) and nothing
// else, for a program that must not start; returns `status`.
int show_refusal(std::string_view caption, std::string_view text, int status, int& argc, char** argv);

}  // namespace kav::ui::qt
