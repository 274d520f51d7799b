// The contract between the forms and the windowing layer that hosts them.
//
// A form declares its design as data (controls, captions, sizes, fonts,
// timers) and handles events; everything it asks of the window goes through
// `FormContext`. The runtime's core (form/runtime.h) implements the contract
// once; its front ends draw it: native windows (Win32), Qt widgets, and a
// headless one with a virtual clock (tests and console mode). Texts cross the
// contract as Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kav::form {

enum class ControlKind { timer, list, progress, button, static_text, frame, date_edit };

struct Font {
  std::string family;  // empty: the toolkit's default
  double points = 0;
  bool bold = false;
};

struct Column {
  std::string title;
  int width = 0;
};

struct ControlDesign {
  std::string name;
  ControlKind kind = ControlKind::static_text;
  std::string caption;  // Windows-1252
  int x = 0, y = 0, width = 0, height = 0;
  Font font;
  bool visible = true;
  bool enabled = true;      // timers: ticking at start
  int interval_ms = 0;      // timers
  int minimum = 0, maximum = 100, step = 1, position = 0;  // progress bars
  std::vector<Column> columns;  // lists
  std::string parent;       // the frame that holds this control, if any
  std::string picture;      // bitmap resource of a button
  std::string format;       // date edits
  int text_color = -1;      // lists: the rows' text colour as 0xRRGGBB; -1 the toolkit's own
};

struct FormDesign {
  std::string name;     // runtime name, e.g. "00-MENU"
  std::string caption;  // Windows-1252
  int width = 0, height = 0;
  std::vector<ControlDesign> controls;
  // A called form that works in the background (the order processing of
  // every check) shows only once it has stayed open this long (-1: the
  // runtime's show delay, for the forms the operator opens), and then
  // without taking the focus from the window the operator uses.
  int show_delay_ms = -1;
  // False for a called form that works in the background (a check, the
  // log): it never takes the focus, and while it is open the operator's
  // clicks and keys on the form below it wait for that form (see "Events").
  bool takes_focus = true;
  // A called form the operator keeps open (a browser of records): its
  // window's close button ends it as EndForm does, and so does a request to
  // end the program (a signal, the session's end), which then goes on to
  // end the start form. Other called forms end only by themselves.
  bool closes_on_request = false;
};

// A row of a list, as GetListRow returns it.
struct ListRow {
  std::string list;
  int index = -1;
};

// Styles of ShowMessageBox: the icon in bits 4-7; the box always has one OK
// button. The forms use kStyleError and kStyleInformation.
inline constexpr int kStyleError = 16;
inline constexpr int kStyleQuestion = 32;
inline constexpr int kStyleWarning = 48;
inline constexpr int kStyleInformation = 64;
inline constexpr int kStyleIconMask = 0xF0;

// A list keeps its most recent rows only: at most kListRowLimit (nearly three
// hours of the monitor's checks, one every five seconds), so that a program
// that runs for months keeps its memory and its cost per row flat. AddListRow
// on a full list first removes the oldest kListRowDrop rows at once (one
// notice to the window instead of one per row), so the new row's index is then
// kListRowLimit - kListRowDrop and the rows kept move up; indexes returned
// earlier are stale. RemoveListRow likewise moves the rows after it up.
inline constexpr int kListRowLimit = 2000;
inline constexpr int kListRowDrop = kListRowLimit / 10;

// A window runtime shows a called form only once it has stayed open this
// long, so forms that open and close within a moment (the log form on every
// check, a check without work) never flash a window.
inline constexpr int kShowDelayMs = 250;
// A form that works in the background shows only when its work lasts long
// enough that a window helps (a web application that keeps it waiting).
inline constexpr int kBackgroundShowDelayMs = 3000;

// ---------------------------------------------------------------------------
// Rules every runtime follows (headless, Qt, Win32), so that a form behaves
// the same on each of them.
//
// Events. One handler runs at a time, on one thread. A form inside a handler
// receives no further tick meanwhile. The operator's input is never lost
// behind work the operator did not ask for: a click, a key or the answer to
// a question that comes while the form is inside a handler, with no form
// above it but forms that work in the background (takes_focus false: a
// check), waits and is delivered, in order, as soon as the handler has
// returned (a click waits once per button; the window shows it as taken).
// Otherwise only the innermost open form takes input; a click on a form
// below a form the operator opened (the export) is dropped. A timer enabled in the design sends its
// first Tick one interval after the form opened; switching it on restarts the
// interval. EndForm takes effect when the running handler has returned; the
// form's FormClose runs then and its caller's RunFormModal returns.
//
// Failures are reported and the program goes on; nothing a form does ends
// the program except EndForm on the start form.
// - RunFormModal with an unknown name: reported as an error line
//   (unknown_form_error) and an error box (unknown_form_text); returns -1.
// - An operation naming a control the form does not have, or a control of
//   another kind, or a list row that does not exist: reported as an error
//   line (unknown_control_error), once per form and name for the program's
//   life; the operation does nothing; GetProgressValue returns 0,
//   AddListRow returns -1, GetListRow returns a row with index -1.
// - A handler that fails (throws): reported as an error line
//   (handler_failure_error) and an error box (handler_failure_text). The
//   handler counts as returned. A called form is then closed as by EndForm,
//   so that its caller goes on (a check that failed half-way must not leave
//   the monitor waiting for ever); the start form stays open.
// Error lines go to the runtime's error output (standard error, or the
// console's own output in console mode).
//
// Windows (runtimes that draw them). A form that closes within a short time
// of opening (the log form always, the order-processing form on a check
// without work) never shows a window; a form still open after that shows,
// painted at once. While a form waits outside its event loop (a command line
// running, a locked record: run_command_line, wait_ms) the open windows stay
// painted and take no input.

// The operations a form's handlers call on their own open form.
class FormContext {
 public:
  virtual ~FormContext() = default;

  // Opens the named form (case and trailing blanks ignored), runs its events
  // and returns when it has closed. An unknown name is reported by the
  // runtime and returns -1.
  virtual int run_form_modal(std::string_view name) = 0;
  // Closes this form once the running handler has returned; its FormClose runs then.
  virtual void end_form() = 0;
  // One box at a time: a box replaces the one the operator left open.
  virtual void show_message_box(std::string_view text, int style) = 0;
  // Asks `text` with the buttons "Sim" and "Não" and returns at once: the
  // form goes on (its timers too) and the answer comes later to
  // Form::answer with `question`. Like a box, it replaces an open box.
  virtual void ask(std::string_view text, std::string_view question) = 0;
  // Trailing blanks of the command text are not part of the command. The
  // result is platform::CommandRunner::run's.
  virtual platform::Status run_command_line(std::string_view command, int window_mode) = 0;
  // Waits about `ms` milliseconds inside the running handler, the windows
  // drawn and taking no input (no event of the form's comes meanwhile).
  // 0 only lets through what waits to be drawn: a long run inside one
  // handler calls it now and then.
  virtual void wait_ms(int ms) = 0;

  virtual void set_timer_enabled(std::string_view timer, bool on) = 0;
  virtual void step_progress(std::string_view bar) = 0;
  virtual int get_progress_value(std::string_view bar) = 0;
  virtual void set_progress_value(std::string_view bar, int value) = 0;
  virtual int add_list_row(std::string_view list, int a, int b) = 0;
  virtual ListRow get_list_row(std::string_view list, int index) = 0;
  virtual void set_list_row_text(const ListRow& row, std::string_view text, int column) = 0;
  virtual void show_list_row(const ListRow& row) = 0;
  // Removes the row; the rows after it move up one index.
  virtual void remove_list_row(const ListRow& row) = 0;
  // The row the operator selected in the list (a click, the arrow keys; one
  // at most), or -1 when none is. A selected row that is removed (or dropped
  // with the oldest) leaves none selected; the selection follows its row
  // when rows before it go.
  virtual int get_selected_row(std::string_view list) = 0;
  // Selects the row as the operator would and brings it into view; a row
  // index of -1 leaves none selected.
  virtual void select_list_row(const ListRow& row) = 0;
  virtual void refresh_control(std::string_view control) = 0;
  virtual void set_control_visible(std::string_view control, bool visible) = 0;
};

// The texts of the failure reports above. The error box texts are
// Windows-1252 (shown as any other message box); the error lines are UTF-8.
std::string unknown_form_text(std::string_view name);
std::string handler_failure_text(std::string_view form);
std::string unknown_form_error(std::string_view name);
std::string unknown_control_error(std::string_view form, std::string_view control);
std::string handler_failure_error(std::string_view form, std::string_view what);

// A form's logic. One object per form lives for the whole program; each
// opening of the form shows a fresh window built from `design()`.
class Form {
 public:
  virtual ~Form() = default;
  virtual const FormDesign& design() const = 0;
  virtual void form_open(FormContext&) {}
  virtual void form_close(FormContext&) {}
  virtual void tick(FormContext&, std::string_view /*timer*/) {}
  virtual void click(FormContext&, std::string_view /*button*/) {}
  virtual void key_down(FormContext&, std::uint16_t& /*key*/, std::uint16_t /*shift*/) {}
  // The operator's answer to FormContext::ask ("Sim": true); a question
  // closed otherwise answers false.
  virtual void answer(FormContext&, std::string_view /*question*/, bool /*yes*/) {}
};

// The application's forms, found by name.
class FormSet {
 public:
  void add(Form& form) { forms_.push_back(&form); }
  // Case and trailing blanks are ignored: "90-Comandas   " finds "90-COMANDAS".
  Form* find(std::string_view name) const;
  const std::vector<Form*>& all() const { return forms_; }

 private:
  std::vector<Form*> forms_;
};

// The name as the runtime matches it: trailing blanks removed.
std::string_view form_name(std::string_view name);

}  // namespace kav::form
