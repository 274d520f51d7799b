// The core of every form runtime: the lifecycle of each opening of a form
// and the rules of form.h, written once.
//
// The core opens, runs and closes the forms; it keeps the state of their
// controls (timers on or off, progress positions, row counts, visibility),
// checks every operation a form asks for (unknown controls, rows that do not
// exist, the progress bar's ends, the list's row bound), delivers events one
// handler at a time and reports failures. A toolkit is a front end: it
// implements FrontEnd and Window, shows what the core tells it, and hands the
// core the events of its windows (timer ticks, clicks, keys, the close
// button) through the Opening that each window belongs to.
//
// So a new operation of the contract, or a new rule, is written here once;
// each front end adds at most the one drawing call the operation needs.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

#include "form/form.h"

namespace kav::form {

class Opening;
class Runtime;

// A run that cannot go on (a test past its time limit): thrown by a front
// end, never taken for a failure of a handler, it ends every open form.
class RunAbandoned : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a front end shows for one opening of a form. Every call comes after
// the core has checked it: the control exists and is of the right kind, a
// row exists, a position lies within the bar's ends.
class Window {
 public:
  virtual ~Window() = default;

  // The window stands, the timers of the design run and the start form is
  // shown; the form's FormOpen comes next.
  virtual void opened() {}
  // Shows the window, painted at once (called once per opening).
  virtual void show() = 0;
  // Calls the opening's show_now() after `ms`, unless the form closed before.
  virtual void show_later(int ms) = 0;
  // The form has closed (FormClose has run): the window goes.
  virtual void closed() = 0;
  // Runs the form's events until quit_events(); may return earlier when the
  // program is ended from outside.
  virtual void run_events() = 0;
  virtual void quit_events() = 0;

  virtual void message_box(std::string_view text, int style) = 0;  // text as the form gave it
  // Shows the question (text as the form gave it, buttons "Sim" and "Não")
  // and returns at once; the answer comes to Opening::answer(question, yes).
  virtual void ask(std::string_view text, std::string_view question) = 0;
  // A click on `button` waits for the form's handler (`waits`), or has been
  // delivered or dropped: the window shows it as taken meanwhile (the button
  // held down, a busy cursor).
  virtual void click_waits(const ControlDesign& /*button*/, bool /*waits*/) {}

  virtual void start_timer(const ControlDesign& timer) = 0;  // (re)starts its interval
  virtual void stop_timer(const ControlDesign& timer) = 0;
  virtual void set_position(const ControlDesign& bar, int position) = 0;
  virtual void add_row(const ControlDesign& list) = 0;  // an empty row at the end
  virtual void drop_oldest_rows(const ControlDesign& list, int count) = 0;
  virtual void remove_row(const ControlDesign& list, int row) = 0;
  // `column` is 1-based and within the list's columns; `text` as the form gave it.
  virtual void set_row_text(const ControlDesign& list, int row, int column, std::string_view text) = 0;
  virtual void show_row(const ControlDesign& list, int row) = 0;
  // The selected row, or -1 (the core checks that it exists).
  virtual int selected_row(const ControlDesign& list) = 0;
  // Selects an existing row (shown), or none for -1.
  virtual void select_row(const ControlDesign& list, int row) = 0;
  virtual void refresh(const ControlDesign& control) = 0;
  virtual void set_visible(const ControlDesign& control, bool visible) = 0;

  // A row's text, for the journal only; front ends that keep no text answer "".
  virtual std::string row_text(const ControlDesign& /*list*/, int /*row*/) const { return {}; }
};

// What a front end does for the runtime as a whole.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Builds the window of an opening, hidden and with its timers stopped,
  // over the window of the form that called it (nullptr for the start form).
  // nullptr when the window cannot be built.
  virtual std::unique_ptr<Window> open_window(Opening& opening, Window* over) = 0;
  // A message box when no form is open.
  virtual void message_box(std::string_view text, int style) = 0;
  // Runs a command line (trailing blanks already removed) and returns its
  // status, the windows drawn meanwhile.
  virtual platform::Status run_command(std::string_view line, int window_mode) = 0;
  // Waits about `ms` milliseconds (more than 0) outside the event loop with
  // the windows drawn and taking no input.
  virtual void wait(int ms) = 0;
  // A moment inside a busy handler: lets pending paints through and shows
  // the windows that are due (Runtime::show_due). Called often: it must be cheap.
  virtual void keep_drawn() {}
  // Milliseconds on the runtime's clock (for the show delay).
  virtual std::int64_t now_ms() = 0;
  // The runtime's error output (an error line of form.h's failure rules).
  virtual void error(std::string_view message) = 0;
};

// Everything a form did, for tests that look at it afterwards: `op` is one of
// open, close, tick, click, blocked_click, waiting_click, waiting_key,
// question, answer, stop, timer, step, progress,
// add_row, row_text, show_row, remove_row, select_row, refresh, visible, message,
// command, wait, error.
class Journal {
 public:
  virtual ~Journal() = default;
  virtual void note(std::string_view form, std::string_view op, std::string_view control, std::string_view text,
                    int value) = 0;
};

// One opening of a form: its state, the operations its handlers call, and
// the events its window delivers.
class Opening final : public FormContext {
 public:
  Opening(Runtime& runtime, Form& form, bool start_form);
  ~Opening() override;
  Opening(const Opening&) = delete;
  Opening& operator=(const Opening&) = delete;

  const FormDesign& design() const { return form_.design(); }
  const std::string& name() const { return form_.design().name; }
  bool start_form() const { return start_; }
  Window& window() { return *window_; }
  // Whether the form takes input now: open, not closing, in none of its handlers.
  bool ready() const { return running_ && !closing_ && busy_ == 0; }
  // Whether the operator's input reaches the form now or as soon as its
  // handler returns (see form.h, "Events").
  bool takes_input() const { return ready() || input_waits(); }
  // Whether input now waits for the form's handler.
  bool input_waits() const;
  bool closing() const { return closing_; }
  bool shown() const { return shown_; }
  // How long the form stays open before its window shows (a called form).
  int show_delay_ms() const;
  // Whether the named control is a timer that is on, a drawn control that is visible.
  bool timer_on(std::string_view timer) const;
  bool visible(std::string_view control) const;

  // ---- Events from the window; each returns whether it reached the form
  // (an event that comes while the form is not ready is dropped).
  bool tick(std::string_view timer);
  bool click(std::string_view button);
  bool key_down(std::uint16_t& key, std::uint16_t shift);
  // The answer to the question asked (FormContext::ask); waits as a click.
  void answer(std::string_view question, bool yes);
  // The window's close button: the start form and a form that closes on
  // request close, as by EndForm.
  void close_button();
  // The show delay has passed (Window::show_later).
  void show_now();

  // ---- FormContext
  int run_form_modal(std::string_view name) override;
  void end_form() override;
  void show_message_box(std::string_view text, int style) override;
  void ask(std::string_view text, std::string_view question) override;
  platform::Status run_command_line(std::string_view command, int window_mode) override;
  void wait_ms(int ms) override;
  void set_timer_enabled(std::string_view timer, bool on) override;
  void step_progress(std::string_view bar) override;
  int get_progress_value(std::string_view bar) override;
  void set_progress_value(std::string_view bar, int value) override;
  int add_list_row(std::string_view list, int a, int b) override;
  ListRow get_list_row(std::string_view list, int index) override;
  void set_list_row_text(const ListRow& row, std::string_view text, int column) override;
  void show_list_row(const ListRow& row) override;
  void remove_list_row(const ListRow& row) override;
  int get_selected_row(std::string_view list) override;
  void select_list_row(const ListRow& row) override;
  void refresh_control(std::string_view control) override;
  void set_control_visible(std::string_view control, bool visible) override;

 private:
  friend class Runtime;
  struct State {
    bool timer_on = false;
    bool visible = true;
    int position = 0;
    int rows = 0;
  };

  bool build(Window* over);
  void run();
  void end_now();
  void close();
  void show_window(bool for_a_box = false);
  void show_if_due(std::int64_t now);
  template <class Handler>
  void handle(Handler&& handler);
  template <class Handler>
  void guarded(Handler&& handler);
  void finish_if_done();
  // Delivers the input that waited for the handler, in order.
  void deliver_waiting();
  void drop_waiting();
  int find(std::string_view name) const;
  int control(std::string_view name, ControlKind kind);
  int drawn_control(std::string_view name);
  int list_row(const ListRow& row);
  const ControlDesign& at(int index) const { return design().controls[static_cast<std::size_t>(index)]; }
  State& state(int index) { return states_[static_cast<std::size_t>(index)]; }
  void note(std::string_view op, std::string_view control = {}, std::string_view text = {}, int value = 0);

  Runtime& runtime_;
  Form& form_;
  const bool start_;
  std::unique_ptr<Window> window_;
  std::vector<State> states_;  // one per control of the design
  std::int64_t opened_ms_ = 0;
  bool running_ = false;
  bool closing_ = false;
  bool closed_ = false;  // FormClose has run
  bool in_loop_ = false;
  bool shown_ = false;
  int busy_ = 0;
  // Input that came while a handler ran (see form.h, "Events").
  struct Waiting {
    enum class Kind { click, key, answer } kind = Kind::click;
    std::string name;  // the button, or the question
    std::uint16_t key = 0, shift = 0;
    bool yes = false;
  };
  std::vector<Waiting> waiting_;
  bool delivering_ = false;
};

class Runtime {
 public:
  Runtime(FormSet& forms, FrontEnd& front);
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // Opens the start form and returns when it has closed: 0, or 1 when there
  // is no form of that name (reported).
  int run(std::string_view start_form);
  // Opens the named form over the innermost one (case and trailing blanks
  // ignored) and returns when it has closed: 0, or -1 when there is no form
  // of that name or its window cannot be built (reported).
  int run_form_modal(std::string_view name);

  // The open forms, innermost last.
  const std::vector<Opening*>& openings() const { return open_; }
  // Whether every form open above `opening` works in the background.
  bool only_background_above(const Opening& opening) const;
  int open_forms() const { return static_cast<int>(open_.size()); }

  // Ends the start form as EndForm would, as soon as no other form is open
  // and none of its handlers runs (a signal asking the program to end).
  void request_stop();
  bool stop_requested() const { return stop_requested_; }
  // The same, for a caller that cannot come back to the event loop (the
  // session ends: the system may end the process as soon as the event being
  // handled returns). When the start form can end now, it closes here, its
  // FormClose run to its end; true then. False while another form is open
  // or a handler runs: the stop then waits for them, as request_stop's does.
  bool stop_now();

  // How long a called form must stay open before its window shows, unless
  // its design says otherwise; the start form shows at once.
  void set_show_delay_ms(int ms) { show_delay_ms_ = ms; }
  int show_delay_ms() const { return show_delay_ms_; }
  // Shows the windows of the forms open longer than the show delay.
  void show_due();

  // Every later operation and event is noted there (nullptr: none).
  void set_journal(Journal* journal) { journal_ = journal; }

  FrontEnd& front() { return front_; }

 private:
  friend class Opening;
  void apply_stop();
  void report_unknown_form(std::string_view name);
  void report_unknown_control(Opening& opening, std::string_view control);

  FormSet& forms_;
  FrontEnd& front_;
  Journal* journal_ = nullptr;
  std::vector<Opening*> open_;                 // innermost last
  std::vector<std::string> reported_;          // form + control names already reported
  int show_delay_ms_ = kShowDelayMs;
  bool stop_requested_ = false;
};

// Timer intervals of the window runtimes: the designed interval times
// `scale`, never below 1 ms, except that a scale of 0 makes every timer fire
// as soon as the event loop is idle (0); a designed 0 stays 0.
int scaled_interval(int interval_ms, double scale);

// A command line without its trailing blanks. The forms hand over lines
// padded to thousands of blanks.
std::string_view command_text(std::string_view line);

}  // namespace kav::form
