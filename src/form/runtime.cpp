#include "form/runtime.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "record/area.h"
#include "record/letter_case.h"

namespace kav::form {

namespace {

}  // namespace

int scaled_interval(int interval_ms, double scale) {
  if (interval_ms <= 0 || scale == 0) return 0;
  const double scaled = std::round(interval_ms * scale);
  if (!(scaled >= 1)) return 1;  // also for a scale that is no number
  if (scaled >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(scaled);
}

// Whole blocks of blanks go first, compared at once, and the last few one by one.
std::string_view command_text(std::string_view line) {
  static constexpr std::size_t kBlock = 256;
  static const std::string blanks(kBlock, ' ');
  std::size_t end = line.size();
  while (end >= kBlock && line.compare(end - kBlock, kBlock, blanks) == 0) end -= kBlock;
  return record::trim_right(line.substr(0, end));
}

// ---------------------------------------------------------------------------
// Opening: the lifecycle

Opening::Opening(Runtime& runtime, Form& form, bool start_form)
    : runtime_(runtime), form_(form), start_(start_form), states_(form.design().controls.size()) {
  for (std::size_t i = 0; i < states_.size(); ++i) {
    const ControlDesign& c = form.design().controls[i];
    states_[i].visible = c.visible;
    states_[i].position = c.position;
  }
}

Opening::~Opening() = default;

bool Opening::build(Window* over) {
  window_ = runtime_.front_.open_window(*this, over);
  return window_ != nullptr;
}

// Opens, runs and closes the form; returns when it has closed.
void Opening::run() {
  running_ = true;
  opened_ms_ = runtime_.front_.now_ms();
  note("open");
  for (std::size_t i = 0; i < states_.size(); ++i) {
    const ControlDesign& c = design().controls[i];
    if (c.kind == ControlKind::timer && c.enabled) {
      states_[i].timer_on = true;
      window_->start_timer(c);
    }
  }
  if (start_ || show_delay_ms() <= 0) {
    show_window();
  } else {
    window_->show_later(show_delay_ms());
  }
  window_->opened();
  handle([this] { form_.form_open(*this); });
  if (!closing_) {
    in_loop_ = true;
    window_->run_events();
    in_loop_ = false;
  }
  close();
}

// Stops the timers and runs FormClose, once.
void Opening::close() {
  if (closed_) return;
  closed_ = true;
  closing_ = true;
  for (std::size_t i = 0; i < states_.size(); ++i) {
    if (!states_[i].timer_on) continue;
    states_[i].timer_on = false;
    window_->stop_timer(design().controls[i]);
  }
  drop_waiting();
  ++busy_;  // an EndForm during FormClose has nothing left to close
  guarded([this] { form_.form_close(*this); });
  --busy_;
  window_->closed();
  note("close");
}

void Opening::end_now() {
  closing_ = true;
  finish_if_done();
}

void Opening::show_window(bool for_a_box) {
  if (shown_ || (closing_ && !for_a_box)) return;
  shown_ = true;
  window_->show();
}

int Opening::show_delay_ms() const {
  return design().show_delay_ms >= 0 ? design().show_delay_ms : runtime_.show_delay_ms_;
}

void Opening::show_if_due(std::int64_t now) {
  if (!shown_ && !closing_ && running_ && now - opened_ms_ >= show_delay_ms()) show_window();
}

void Opening::show_now() {
  if (running_) show_window();
}

template <class Handler>
void Opening::handle(Handler&& handler) {
  ++busy_;
  guarded(handler);
  --busy_;
  finish_if_done();
  runtime_.apply_stop();
  deliver_waiting();
}

bool Opening::input_waits() const {
  return running_ && !closing_ && busy_ > 0 && runtime_.only_background_above(*this);
}

void Opening::deliver_waiting() {
  if (delivering_) return;
  delivering_ = true;
  while (!waiting_.empty() && ready()) {
    const Waiting w = waiting_.front();
    waiting_.erase(waiting_.begin());
    switch (w.kind) {
      case Waiting::Kind::click: {
        const int i = find(w.name);
        window_->click_waits(at(i), false);
        if (!state(i).visible) {
          note("blocked_click", w.name);
          break;
        }
        note("click", w.name);
        handle([&] { form_.click(*this, w.name); });
        break;
      }
      case Waiting::Kind::key: {
        std::uint16_t key = w.key;
        handle([&] { form_.key_down(*this, key, w.shift); });
        break;
      }
      case Waiting::Kind::answer:
        note("answer", {}, w.name, w.yes ? 1 : 0);
        handle([&] { form_.answer(*this, w.name, w.yes); });
        break;
    }
  }
  delivering_ = false;
  if (!running_ || closing_) drop_waiting();
}

// A form that closes drops what waited for it (its buttons let go).
void Opening::drop_waiting() {
  for (const Waiting& w : waiting_) {
    if (w.kind == Waiting::Kind::click) window_->click_waits(at(find(w.name)), false);
  }
  waiting_.clear();
}

// A failure that escapes a handler must not unwind through the window
// system: it is reported and the handler counts as returned. A called form
// then closes, so that its caller (the monitor waiting for a check) goes on.
template <class Handler>
void Opening::guarded(Handler&& handler) {
  std::string what;
  try {
    handler();
    return;
  } catch (const RunAbandoned&) {
    throw;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "unknown exception";
  }
  const std::string message = handler_failure_error(name(), what);
  note("error", {}, message);
  runtime_.front_.error(message);
  show_message_box(handler_failure_text(name()), kStyleError);
  if (!start_) closing_ = true;
}

void Opening::finish_if_done() {
  if (closing_ && busy_ == 0 && in_loop_) window_->quit_events();
}

// ---------------------------------------------------------------------------
// Opening: events

bool Opening::timer_on(std::string_view timer) const {
  const int i = find(timer);
  return i >= 0 && design().controls[static_cast<std::size_t>(i)].kind == ControlKind::timer &&
         states_[static_cast<std::size_t>(i)].timer_on;
}

bool Opening::visible(std::string_view control) const {
  const int i = find(control);
  return i >= 0 && states_[static_cast<std::size_t>(i)].visible;
}

bool Opening::tick(std::string_view timer) {
  if (!ready() || !timer_on(timer)) return false;
  const std::string name(at(find(timer)).name);
  note("tick", name);
  handle([&] { form_.tick(*this, name); });
  return true;
}

bool Opening::click(std::string_view button) {
  const int i = find(button);
  if (i < 0 || at(i).kind != ControlKind::button) return false;
  const std::string name(at(i).name);
  if (input_waits() && state(i).visible) {
    const bool already = std::any_of(waiting_.begin(), waiting_.end(), [&](const Waiting& w) {
      return w.kind == Waiting::Kind::click && w.name == name;
    });
    if (!already) {
      waiting_.push_back(Waiting{.kind = Waiting::Kind::click, .name = name});
      note("waiting_click", name);
      window_->click_waits(at(i), true);
    }
    return true;
  }
  if (!ready() || !state(i).visible) {
    note("blocked_click", name);
    return false;
  }
  note("click", name);
  handle([&] { form_.click(*this, name); });
  return true;
}

bool Opening::key_down(std::uint16_t& key, std::uint16_t shift) {
  if (input_waits()) {
    waiting_.push_back(Waiting{.kind = Waiting::Kind::key, .key = key, .shift = shift});
    note("waiting_key", {}, {}, key);
    key = 0;  // taken: it goes to the form later
    return true;
  }
  if (!ready()) return false;
  handle([&] { form_.key_down(*this, key, shift); });
  return true;
}

void Opening::answer(std::string_view question, bool yes) {
  if (!running_ || closing_) return;
  waiting_.push_back(Waiting{.kind = Waiting::Kind::answer, .name = std::string(question), .yes = yes});
  deliver_waiting();
}

void Opening::close_button() {
  if ((!start_ && !design().closes_on_request) || !running_) return;
  end_now();
}

// ---------------------------------------------------------------------------
// Opening: the operations of the contract

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

// ---------------------------------------------------------------------------
// Runtime

Runtime::Runtime(FormSet& forms, FrontEnd& front) : forms_(forms), front_(front) {}

int Runtime::run(std::string_view start_form) { return run_form_modal(start_form) < 0 ? 1 : 0; }

int Runtime::run_form_modal(std::string_view name) {
  Form* form = forms_.find(name);
  if (form == nullptr) {
    report_unknown_form(name);
    return -1;
  }
  Opening opening(*this, *form, open_.empty());
  if (!opening.build(open_.empty() ? nullptr : &open_.back()->window())) {
    front_.error(handler_failure_error(form->design().name, "its window could not be created"));
    const std::string text = handler_failure_text(form->design().name);
    if (open_.empty()) {
      front_.message_box(text, kStyleError);
    } else {
      open_.back()->show_message_box(text, kStyleError);
    }
    return -1;
  }
  open_.push_back(&opening);
  struct Pop {
    std::vector<Opening*>& open;
    ~Pop() { open.pop_back(); }
  };
  {
    Pop pop{open_};
    opening.run();
  }
  apply_stop();
  return 0;
}

bool Runtime::only_background_above(const Opening& opening) const {
  const auto it = std::find(open_.begin(), open_.end(), &opening);
  if (it == open_.end()) return false;
  return std::all_of(it + 1, open_.end(), [](const Opening* o) { return !o->design().takes_focus; });
}

void Runtime::request_stop() {
  stop_requested_ = true;
  apply_stop();
}

bool Runtime::stop_now() {
  request_stop();
  if (open_.size() != 1 || !open_.back()->closing() || open_.back()->busy_ != 0) return false;
  open_.back()->close();
  return true;
}

void Runtime::apply_stop() {
  if (!stop_requested_ || open_.empty() || !open_.back()->ready()) return;
  if (open_.size() > 1) {
    // A form the operator keeps open goes first; the start form follows
    // once the handler that opened it has returned.
    if (open_.back()->design().closes_on_request) {
      open_.back()->note("stop");
      open_.back()->end_now();
    }
    return;
  }
  open_.back()->note("stop");
  open_.back()->end_now();
}

void Runtime::show_due() {
  if (open_.empty()) return;
  const std::int64_t now = front_.now_ms();
  for (Opening* o : open_) o->show_if_due(now);
}

void Runtime::report_unknown_form(std::string_view name) {
  const std::string message = unknown_form_error(name);
  if (!open_.empty()) open_.back()->note("error", {}, message);
  front_.error(message);
  if (open_.empty()) {
    front_.message_box(unknown_form_text(name), kStyleError);
  } else {
    open_.back()->show_message_box(unknown_form_text(name), kStyleError);
  }
}

// Once per form and name for the program's life: a form that names a missing
// control does so on every tick.
void Runtime::report_unknown_control(Opening& opening, std::string_view control) {
  std::string key = record::lower(opening.name() + '\n' + std::string(record::trim_right(control)));
  if (std::find(reported_.begin(), reported_.end(), key) != reported_.end()) return;
  reported_.push_back(std::move(key));
  const std::string message = unknown_control_error(opening.name(), control);
  opening.note("error", record::trim_right(control), message);
  front_.error(message);
}

}  // namespace kav::form
