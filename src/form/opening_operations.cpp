// The operations of the form contract on an open form (FormContext): the
// controls found by name, forms and commands run, timers, progress bars,
// lists and what is shown.
#include <algorithm>
#include <string>

#include "form/runtime.h"
#include "record/area.h"
#include "record/letter_case.h"

namespace kav::form {

int Opening::find(std::string_view name) const {
  const std::string_view wanted = record::trim_right(name);
  const auto& controls = design().controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (record::same_letters(controls[i].name, wanted)) return static_cast<int>(i);
  }
  return -1;
}

// The named control of `kind`; -1, reported, when there is none.
int Opening::control(std::string_view name, ControlKind kind) {
  const int i = find(name);
  if (i >= 0 && at(i).kind == kind) return i;
  runtime_.report_unknown_control(*this, name);
  return -1;
}

// The named control that is drawn (any but a timer); -1, reported, when there is none.
int Opening::drawn_control(std::string_view name) {
  const int i = find(name);
  if (i >= 0 && at(i).kind != ControlKind::timer) return i;
  runtime_.report_unknown_control(*this, name);
  return -1;
}

// The list of a row that exists, or -1 (a missing list is reported).
int Opening::list_row(const ListRow& row) {
  const int l = control(row.list, ControlKind::list);
  if (l < 0 || row.index < 0 || row.index >= state(l).rows) return -1;
  return l;
}

void Opening::note(std::string_view op, std::string_view control, std::string_view text, int value) {
  if (runtime_.journal_ != nullptr) runtime_.journal_->note(name(), op, control, text, value);
}

int Opening::run_form_modal(std::string_view name) {
  runtime_.front_.keep_drawn();
  return runtime_.run_form_modal(name);
}

void Opening::end_form() {
  closing_ = true;  // the window closes when the running handler has returned
}

void Opening::show_message_box(std::string_view text, int style) {
  show_window(true);  // the box belongs to a window the operator can see
  note("message", {}, text, style);
  window_->message_box(text, style);
}

void Opening::ask(std::string_view text, std::string_view question) {
  show_window(true);
  note("question", question, text);
  window_->ask(text, question);
}

platform::Status Opening::run_command_line(std::string_view command, int window_mode) {
  const std::string_view line = command_text(command);
  platform::Status status = runtime_.front_.run_command(line, window_mode);
  note("command", {}, line, status.result_number());
  return status;
}

void Opening::wait_ms(int ms) {
  if (ms <= 0) {
    runtime_.front_.keep_drawn();
    return;
  }
  note("wait", {}, {}, ms);
  runtime_.front_.wait(ms);
}

void Opening::set_timer_enabled(std::string_view timer, bool on) {
  const int t = control(timer, ControlKind::timer);
  if (t < 0) return;
  runtime_.front_.keep_drawn();
  state(t).timer_on = on;
  if (on) {
    window_->start_timer(at(t));  // (re)starts the interval
  } else {
    window_->stop_timer(at(t));
  }
  note("timer", at(t).name, {}, on ? 1 : 0);
}

// The bar stops at both its ends, whatever its step.
void Opening::step_progress(std::string_view bar) {
  const int b = control(bar, ControlKind::progress);
  if (b < 0) return;
  runtime_.front_.keep_drawn();
  const ControlDesign& d = at(b);
  const long long value = static_cast<long long>(state(b).position) + d.step;
  state(b).position = static_cast<int>(std::clamp<long long>(value, d.minimum, std::max(d.minimum, d.maximum)));
  window_->set_position(d, state(b).position);
  note("step", d.name, {}, state(b).position);
}

int Opening::get_progress_value(std::string_view bar) {
  const int b = control(bar, ControlKind::progress);
  return b < 0 ? 0 : state(b).position;
}

void Opening::set_progress_value(std::string_view bar, int value) {
  const int b = control(bar, ControlKind::progress);
  if (b < 0) return;
  const ControlDesign& d = at(b);
  state(b).position = std::clamp(value, d.minimum, std::max(d.minimum, d.maximum));
  window_->set_position(d, state(b).position);
  note("progress", d.name, {}, state(b).position);
}

// A full list first loses its oldest rows at once (one notice to the window).
int Opening::add_list_row(std::string_view list, int, int) {
  const int l = control(list, ControlKind::list);
  if (l < 0) return -1;
  runtime_.front_.keep_drawn();
  State& s = state(l);
  if (s.rows >= kListRowLimit) {
    window_->drop_oldest_rows(at(l), kListRowDrop);
    s.rows -= kListRowDrop;
  }
  window_->add_row(at(l));
  const int index = s.rows++;
  note("add_row", at(l).name, {}, index);
  return index;
}

ListRow Opening::get_list_row(std::string_view list, int index) {
  const int l = control(list, ControlKind::list);
  const bool exists = l >= 0 && index >= 0 && index < state(l).rows;
  return ListRow{std::string(list), exists ? index : -1};
}

void Opening::set_list_row_text(const ListRow& row, std::string_view text, int column) {
  const int l = list_row(row);
  if (l < 0) return;
  const int columns = std::max<int>(1, static_cast<int>(at(l).columns.size()));
  if (column < 1 || column > columns) return;
  window_->set_row_text(at(l), row.index, column, text);
  note("row_text", at(l).name, text, row.index);
}

void Opening::show_list_row(const ListRow& row) {
  const int l = control(row.list, ControlKind::list);
  if (l < 0) return;
  if (row.index >= 0 && row.index < state(l).rows) window_->show_row(at(l), row.index);
  note("show_row", at(l).name, {}, row.index);
}

void Opening::remove_list_row(const ListRow& row) {
  const int l = list_row(row);
  if (l < 0) return;
  runtime_.front_.keep_drawn();
  const std::string text = runtime_.journal_ != nullptr ? window_->row_text(at(l), row.index) : std::string();
  window_->remove_row(at(l), row.index);
  --state(l).rows;
  note("remove_row", at(l).name, text, row.index);
}

int Opening::get_selected_row(std::string_view list) {
  const int l = control(list, ControlKind::list);
  if (l < 0) return -1;
  const int row = window_->selected_row(at(l));
  return row >= 0 && row < state(l).rows ? row : -1;
}

void Opening::select_list_row(const ListRow& row) {
  const int l = control(row.list, ControlKind::list);
  if (l < 0) return;
  const int index = row.index >= 0 && row.index < state(l).rows ? row.index : -1;
  runtime_.front_.keep_drawn();
  window_->select_row(at(l), index);
  note("select_row", at(l).name, {}, index);
}

void Opening::refresh_control(std::string_view control) {
  const int c = drawn_control(control);
  if (c < 0) return;
  runtime_.front_.keep_drawn();
  window_->refresh(at(c));
  note("refresh", at(c).name);
}

// Only a real change reaches the window: the export switches its frame off
// after every record it reads.
void Opening::set_control_visible(std::string_view control, bool visible) {
  const int c = drawn_control(control);
  if (c < 0) return;
  runtime_.front_.keep_drawn();
  if (state(c).visible != visible) {
    state(c).visible = visible;
    window_->set_visible(at(c), visible);
  }
  note("visible", at(c).name, {}, visible ? 1 : 0);
}

}  // namespace kav::form
