#include "form/runtime.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "record/area.h"
#include "record/letter_case.h"

namespace kav::form {

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
