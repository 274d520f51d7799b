// The form runtime on real windows (Qt Widgets).
//
// Every opening of a form is a modal dialog built from the form's design and
// run with its own nested event loop, so RunFormModal returns only when the
// called form has closed. Events reach the form's handlers one at a time on
// the GUI thread; while a handler of a form is running, that form receives
// no further event (its timer ticks and clicks are dropped, not queued), so
// no handler ever runs nested inside itself. The rules of form.h hold.
//
// Windows: the start form shows at once; any other form shows only when it
// is still open form::kShowDelayMs after it opened, so the log form and a check
// without work never flash a window. While handlers are busy the runtime
// keeps the windows drawn: a command line runs on a helper thread while the
// GUI thread paints, and every operation of the contract (and the keyed
// files' reads and pauses, see DrawnKeyedFiles) lets pending paints through
// at most every kDrawEveryMs. Mouse and key input reaches only the innermost
// form, and only while none of its handlers is running.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "form/form.h"
#include "platform/command_runner.h"
#include "platform/keyed_file.h"

class QWidget;

namespace kav::ui::qt {

inline constexpr int kDrawEveryMs = 40;

class QtRuntime {
 public:
  // Replaces the modal message box: receives the text as the box would show
  // it (UTF-8, trailing blanks removed) and the style (16 error, 64 information).
  using MessageBoxHook = std::function<void(const std::string& text, int style)>;
  // Called once a form's window has been built (and, for the start form,
  // shown), before its FormOpen runs: the form's name as designed and its
  // window, whose child widgets carry the control names as objectName.
  using FormShownHook = std::function<void(std::string_view form, QWidget& window)>;
  // The runtime's error output (form.h's failure rules); standard error
  // when not set.
  using ErrorHook = std::function<void(const std::string& message)>;

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
  void set_error_hook(ErrorHook hook) { error_hook_ = std::move(hook); }
  // How long a called form must stay open before its window shows.
  void set_show_delay_ms(int ms) { show_delay_ms_ = ms; }
  // Timer intervals are multiplied by `scale` (1 = as designed); a designed
  // interval never becomes shorter than 1 ms, except at a scale of 0, where
  // every timer fires as soon as the event loop is idle (benchmarks).
  void set_time_scale(double scale) { time_scale_ = scale; }

  // The number of forms open right now (the start form included).
  int open_forms() const { return static_cast<int>(open_.size()); }

  // Lets pending paints through when the last time is kDrawEveryMs ago and
  // shows the windows of forms open longer than the show delay. For work
  // that runs long on the GUI thread; does nothing when no runtime runs.
  static void keep_drawn();
  // Waits about `ms` milliseconds with the windows drawn and input blocked
  // (a plain sleep when no runtime runs).
  static void wait_drawn(int ms);

  // Ends the start form as EndForm would, as soon as no other form is open
  // and none of its handlers runs (a signal asking the program to end).
  void request_stop();

 private:
  class OpenForm;
  friend class OpenForm;

  int scaled_interval(int interval_ms) const;
  void message_box(QWidget* parent, const std::string& title, std::string_view text, int style);
  void report_unknown_form(std::string_view name);
  void report_failure(std::string_view form, const char* what, QWidget* parent, const std::string& title);
  void report_unknown_control(std::string_view form, std::string_view control);
  void error(const std::string& message);
  void pump(bool now);
  // Runs `work` on a helper thread; returns when it has finished, with the
  // windows drawn meanwhile.
  int run_drawn(const std::function<int()>& work);
  class InputGate;
  void apply_stop();

  form::FormSet& forms_;
  platform::CommandRunner& commands_;
  MessageBoxHook message_box_hook_;
  FormShownHook form_shown_hook_;
  ErrorHook error_hook_;
  double time_scale_ = 1.0;
  int show_delay_ms_ = form::kShowDelayMs;
  std::vector<OpenForm*> open_;  // innermost last
  std::vector<std::string> reported_;  // form + control names already reported
  std::int64_t last_pump_ms_ = 0;
  bool stop_requested_ = false;
  std::unique_ptr<InputGate> gate_;
  static QtRuntime* running_;
};

// The keyed files with their waits drawn: a read lets pending paints through
// (QtRuntime::keep_drawn) and the pause between two reads of a locked record
// waits with the windows drawn.
class DrawnKeyedFiles final : public platform::KeyedFiles {
 public:
  explicit DrawnKeyedFiles(platform::KeyedFiles& files) : files_(files) {}
  std::unique_ptr<platform::KeyedFile> file(std::string_view windows_path, std::size_t record_length,
                                            std::size_t key_length) override;
  void pause_ms(int ms) override;

 private:
  platform::KeyedFiles& files_;
};

// Creates the QApplication, runs the start form and returns run()'s result.
// SIGINT and SIGTERM end the start form as "Sair" does, once no other form
// is open.
int run_windowed(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form, int& argc,
                 char** argv);

// A message box of style 16 (error) with `text` (Windows-1252) and nothing
// else, for a program that must not start; returns the exit status 3.
int show_refusal(std::string_view caption, std::string_view text, int& argc, char** argv);

}  // namespace kav::ui::qt
