// The headless runtime of the form contract.
//
// Forms run exactly as under the window toolkit: modal calls nest, timers
// tick in order, handlers run one at a time. Time comes from a Pacer: the
// virtual pacer jumps straight to the next event, so tests of minutes of
// polling take milliseconds; the console pacer waits on the real clock and
// reads typed commands. Everything the forms do is recorded for assertions.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form/form.h"
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
};

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
                        // show_row, refresh, visible, message, command, error
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
  std::vector<std::string> rows;
};

// One opening of a form; kept after it has closed.
struct FormRecord {
  std::string name;
  std::int64_t opened_ms = 0;
  std::int64_t closed_ms = -1;
  std::map<std::string, ControlState, std::less<>> controls;

  const ControlState& control(std::string_view name) const;
  const std::vector<std::string>& rows(std::string_view list = "Lv_Proc") const { return control(list).rows; }
};

class HeadlessRuntime {
 public:
  HeadlessRuntime(form::FormSet& forms, platform::CommandRunner& commands, Pacer& pacer);
  ~HeadlessRuntime();

  // Opens `start_form` and runs until it has closed.
  int run(std::string_view start_form);

  // Runs `action` inside the event loop when the clock reaches `ms`.
  void at(std::int64_t ms, std::function<void()> action);
  // A click on a button of the open forms. Only the innermost form takes
  // input, as with modal windows; a click elsewhere is recorded and ignored.
  bool click(std::string_view button);
  // Virtual time beyond which run() gives up with an exception (a test that
  // would otherwise never end).
  void set_limit_ms(std::int64_t ms) { limit_ms_ = ms; }

  std::int64_t now_ms() { return pacer_.now_ms(); }
  const std::vector<Event>& journal() const { return journal_; }
  std::vector<Event> events(std::string_view op) const;
  const std::deque<FormRecord>& openings() const { return openings_; }
  // The latest opening of a form, or nullptr.
  const FormRecord* last(std::string_view form) const;
  std::size_t count_openings(std::string_view form) const;
  std::vector<std::string> open_forms() const;

  // Called for every message box (it is answered with OK when this returns).
  std::function<void(std::string_view form, std::string_view text, int style)> on_message_box;
  // Called when a list row gets its text (console mode prints it).
  std::function<void(std::string_view form, std::string_view text)> on_row_text;
  // Called for a typed line in console mode; the default clicks the button of
  // the innermost form whose caption starts with the typed letter.
  std::function<void(std::string_view line)> on_input;
  // Called for an operation the runtime cannot perform (an unknown form).
  std::function<void(std::string_view message)> on_error;

 private:
  class Context;
  struct OpenForm;

  int run_form(form::Form& form);
  void step();
  void record(const OpenForm& of, std::string op, std::string_view control = {}, std::string_view text = {},
              int value = 0);
  void default_input(std::string_view line);

  form::FormSet& forms_;
  platform::CommandRunner& commands_;
  Pacer& pacer_;
  std::int64_t limit_ms_ = 7LL * 24 * 3600 * 1000;
  std::multimap<std::int64_t, std::function<void()>> actions_;
  std::vector<OpenForm*> stack_;
  std::deque<FormRecord> openings_;
  std::vector<Event> journal_;
};

// Runs the application in a terminal on the real clock: every new list row
// and message box is printed; typed letters press the buttons.
int run_console(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form);

}  // namespace kav::ui::headless
