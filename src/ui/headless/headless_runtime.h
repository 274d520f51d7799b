// The headless front end of the form runtime.
//
// Forms run on the same core (form/runtime.h) as under the window toolkits:
// modal calls nest, timers tick in order, handlers run one at a time. Time
// comes from a Pacer: the virtual pacer jumps straight to the next event, so
// tests of minutes of polling take milliseconds; the console pacer waits on
// the real clock and reads typed commands. The runtime keeps only the state
// of the forms that are open; tests attach a Recorder to keep everything the
// forms did.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form/form.h"
#include "form/runtime.h"
#include "platform/clock.h"
#include "platform/command_runner.h"

namespace kav::ui::headless {

class Pacer {
 public:
  virtual ~Pacer() = default;
  virtual std::int64_t now_ms() = 0;
  // Waits until `deadline_ms` (for ever when it is negative) or until a line
  // of input arrives, which is returned.
  virtual std::optional<std::string> wait(std::int64_t deadline_ms) = 0;
  // Whether time only moves when the runtime waits (tests).
  virtual bool is_virtual() const = 0;
  // Whether the program was asked from outside to end (a signal): the start
  // form then ends as by EndForm as soon as no other form is open.
  virtual bool stop_requested() const { return false; }
};

// A test run that cannot end: past the recorder's time limit, or nothing left
// that could happen on the virtual clock. Never caught as a handler failure.
using RunAbandoned = form::RunAbandoned;

// Virtual time on a ManualClock: waiting moves the clock to the deadline, so
// the forms' system clock and the timers agree.
class VirtualPacer final : public Pacer {
 public:
  explicit VirtualPacer(platform::ManualClock& clock) : clock_(clock) {}
  std::int64_t now_ms() override { return clock_.elapsed_ms(); }
  std::optional<std::string> wait(std::int64_t deadline_ms) override;
  bool is_virtual() const override { return true; }

 private:
  platform::ManualClock& clock_;
};

// One thing a form did, or that happened to it.
struct Event {
  std::int64_t ms = 0;
  std::string form;
  std::string op;       // open, close, tick, click, timer, step, progress, add_row, row_text,
                        // show_row, remove_row, refresh, visible, message, command, wait, error,
                        // blocked_click, stop
  std::string control;
  std::string text;
  int value = 0;
};

struct ControlState {
  const form::ControlDesign* design = nullptr;
  bool visible = true;
  bool timer_on = false;
  std::int64_t due_ms = 0;
  int position = 0;
  // Lists: each row's text; in a list of several columns, its cells (their
  // trailing blanks dropped) joined by " | ".
  std::vector<std::string> rows;
  std::vector<std::vector<std::string>> cells;  // lists of several columns
  int selected = -1;                            // lists: the selected row
};

// One opening of a form; a Recorder keeps it after it has closed.
struct FormRecord {
  std::string name;
  std::int64_t opened_ms = 0;
  std::int64_t closed_ms = -1;
  const form::FormDesign* design = nullptr;
  bool shown = false;  // as a window runtime would have shown it (see form::kShowDelayMs)
  std::map<std::string, ControlState, std::less<>> controls;

  const ControlState& control(std::string_view name) const;
  const std::vector<std::string>& rows(std::string_view list = "Lv_Proc") const { return control(list).rows; }
};

// Test instruments: every event and every opening of a form, kept for
// assertions, and a limit of virtual time for a run that would never end.
// Attached by tests (HeadlessRuntime::attach); console mode has none, so its
// memory stays flat however long it runs.
class Recorder {
 public:
  std::int64_t limit_ms = 7LL * 24 * 3600 * 1000;
  std::vector<Event> journal;
  std::deque<FormRecord> openings;

  std::vector<Event> events(std::string_view op) const;
  // The latest opening of a form, or nullptr.
  const FormRecord* last(std::string_view form) const;
  std::size_t count_openings(std::string_view form) const;
};

class HeadlessRuntime final : private form::FrontEnd, private form::Journal {
 public:
  HeadlessRuntime(form::FormSet& forms, platform::CommandRunner& commands, Pacer& pacer);
  ~HeadlessRuntime() override;
  HeadlessRuntime(const HeadlessRuntime&) = delete;
  HeadlessRuntime& operator=(const HeadlessRuntime&) = delete;

  // Opens `start_form` and runs until it has closed.
  int run(std::string_view start_form);

  // Runs `action` inside the event loop when the clock reaches `ms`.
  void at(std::int64_t ms, std::function<void()> action);
  // A click on a button of the open forms. Only the innermost form takes
  // input, as with modal windows; a click elsewhere is recorded and ignored.
  bool click(std::string_view button);

  // What a typed line did: pressed a button of the innermost form, named a
  // button of a form that is busy (blocked), or named no button.
  // A click that came during a check waits for it (see form.h, "Events").
  // A line that answers the open question (s, sim, n, não) is `answered`.
  // A row's number that is no number (`not_a_row`) or names no row of the
  // list (`no_row`, the list then has typed_rows() rows) presses nothing.
  enum class Typed { pressed, waiting, blocked, unknown, answered, no_row, not_a_row };
  // A line presses the button whose caption begins with it: the caption's
  // first letter or its whole first word, case ignored ("e", "exportar").
  // A number after it ("t 3") first selects that row (counted from 1) of
  // the form's first list, as a click on the row would.
  Typed type_command(std::string_view line);
  int typed_rows() const { return typed_rows_; }
  // One line naming the commands of the buttons of the innermost form (the
  // start form's when `start_form`).
  std::string commands_help(bool start_form = true) const;

  // Answers the question a form asked (FormContext::ask) and that is still
  // open; false when none is.
  bool answer(bool yes);
  bool question_open() const { return asked_ != nullptr; }

  // Switches the test instruments on: from now on `recorder` keeps every
  // event and opening, and run() gives up past its time limit.
  void attach(Recorder& recorder);
  // Attaches a recorder that the runtime owns.
  Recorder& record_everything();
  // The attached recorder's time limit (instruments switched on if needed).
  void set_limit_ms(std::int64_t ms) { record_everything().limit_ms = ms; }

  std::int64_t now_ms() override { return pacer_.now_ms(); }
  // The recorder's contents; std::logic_error when no recorder is attached.
  const std::vector<Event>& journal() const { return instruments().journal; }
  std::vector<Event> events(std::string_view op) const { return instruments().events(op); }
  const std::deque<FormRecord>& openings() const { return instruments().openings; }
  const FormRecord* last(std::string_view form) const { return instruments().last(form); }
  std::size_t count_openings(std::string_view form) const { return instruments().count_openings(form); }

  std::vector<std::string> open_forms() const;
  // The core the forms run on (its show delay decides FormRecord::shown).
  form::Runtime& core() { return core_; }
  // The state of the innermost open form, or nullptr.
  const FormRecord* innermost() const;

  // Called for every message box (it is answered with OK when this returns).
  std::function<void(std::string_view form, std::string_view text, int style)> on_message_box;
  // Called when a form asks a question, which then waits for answer().
  // Without it every question is answered "Sim" (once the handler that
  // asked has returned).
  std::function<void(std::string_view form, std::string_view text)> on_question;
  // Called when a list row gets its text, and when a row is removed (console
  // mode prints both). `list` is empty for the form's first list (its status
  // list) and otherwise names the list by its first column's title. A row of
  // a list of several columns is reported once its last column has its
  // text, as "N) cell | cell | ...", N its number counted from 1.
  using RowHook = std::function<void(std::string_view form, std::string_view list, std::string_view text)>;
  RowHook on_row_text;
  RowHook on_row_removed;
  // Called once a form has opened, before its FormOpen runs (innermost()
  // is then its state).
  std::function<void(std::string_view form)> on_open;
  // Called once a form has closed (its FormClose has run).
  std::function<void(std::string_view form)> on_close;
  // Called for a typed line in console mode; the default is type_command.
  std::function<void(std::string_view line)> on_input;
  // The runtime's error output (see the failure rules of form.h); standard
  // error when not set.
  std::function<void(std::string_view message)> on_error;

 private:
  class Window;

  // form::FrontEnd
  std::unique_ptr<form::Window> open_window(form::Opening& opening, form::Window* over) override;
  void message_box(std::string_view text, int style) override;
  platform::Status run_command(std::string_view line, int window_mode) override;
  void wait(int ms) override;
  void error(std::string_view message) override;
  // form::Journal
  void note(std::string_view form, std::string_view op, std::string_view control, std::string_view text,
            int value) override;

  void step();
  void input(const std::string& line);
  void run_due_action();
  void check_limit(std::int64_t next_ms) const;
  const Recorder& instruments() const;

  platform::CommandRunner& commands_;
  Pacer& pacer_;
  Recorder* recorder_ = nullptr;
  std::unique_ptr<Recorder> own_recorder_;
  std::multimap<std::int64_t, std::function<void()>> actions_;
  std::vector<Window*> stack_;  // the open forms' windows, innermost last
  form::Opening* asked_ = nullptr;  // the form whose question is open
  std::string question_;
  int typed_rows_ = 0;
  form::Runtime core_;
};

// Console mode's lines for list rows, handed to `print` in UTF-8: a row of a
// form's status list as "[form] text" whenever it gets its text; a row of
// another list (the monitor's alerts) as "[form] Alertas: text" when it gets
// its text and "[form] Alertas: (fim) text" when it is removed. A failure
// (a row ending in " !!!") that another form's status list printed before is
// not printed again (the monitor's rows of a check repeat the check's
// failures).
void print_rows(HeadlessRuntime& runtime, std::function<void(const std::string& line)> print);

// Runs the application in a terminal on the real clock: every new list row
// and message box is printed; typed letters press the buttons.
int run_console(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form);

}  // namespace kav::ui::headless
