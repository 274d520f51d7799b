#include "ui/headless/headless_runtime.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "record/area.h"
#include "record/cp1252.h"

namespace kav::ui::headless {

std::optional<std::string> VirtualPacer::wait(std::int64_t deadline_ms) {
  if (deadline_ms < 0) throw std::logic_error("headless runtime: nothing is left that could happen");
  if (deadline_ms > clock_.elapsed_ms()) clock_.advance_ms(deadline_ms - clock_.elapsed_ms());
  return std::nullopt;
}

const ControlState& FormRecord::control(std::string_view control_name) const {
  const auto it = controls.find(control_name);
  if (it == controls.end()) throw std::out_of_range("form " + name + " has no control " + std::string(control_name));
  return it->second;
}

struct HeadlessRuntime::OpenForm {
  form::Form* form = nullptr;
  FormRecord* record = nullptr;
  bool closing = false;
  ControlState& control(std::string_view name) {
    const auto it = record->controls.find(name);
    if (it == record->controls.end()) {
      throw std::invalid_argument("form " + record->name + " has no control " + std::string(name));
    }
    return it->second;
  }
};

class HeadlessRuntime::Context final : public form::FormContext {
 public:
  Context(HeadlessRuntime& rt, OpenForm& of) : rt_(rt), of_(of) {}

  int run_form_modal(std::string_view name) override {
    form::Form* form = rt_.forms_.find(name);
    if (form == nullptr) {
      const std::string message = "no form named \"" + std::string(form::form_name(name)) + "\"";
      rt_.record(of_, "error", {}, message);
      if (rt_.on_error) {
        rt_.on_error(message);
      } else {
        std::fprintf(stderr, "kavcomanda: %s\n", message.c_str());
      }
      return -1;
    }
    return rt_.run_form(*form);
  }
  void end_form() override { of_.closing = true; }
  void show_message_box(std::string_view text, int style) override {
    rt_.record(of_, "message", {}, text, style);
    if (rt_.on_message_box) rt_.on_message_box(of_.record->name, text, style);
  }
  int run_command_line(std::string_view command, int window_mode) override {
    const int rc = rt_.commands_.run(record::trim_right(command), window_mode);
    rt_.record(of_, "command", {}, record::trim_right(command), rc);
    return rc;
  }
  void set_timer_enabled(std::string_view timer, bool on) override {
    ControlState& t = of_.control(timer);
    t.timer_on = on;
    if (on) t.due_ms = rt_.pacer_.now_ms() + std::max(t.design->interval_ms, 1);
    rt_.record(of_, "timer", timer, {}, on ? 1 : 0);
  }
  void step_progress(std::string_view bar) override {
    ControlState& p = of_.control(bar);
    p.position = std::min(p.position + p.design->step, p.design->maximum);
    rt_.record(of_, "step", bar, {}, p.position);
  }
  int get_progress_value(std::string_view bar) override { return of_.control(bar).position; }
  void set_progress_value(std::string_view bar, int value) override {
    ControlState& p = of_.control(bar);
    p.position = std::clamp(value, p.design->minimum, p.design->maximum);
    rt_.record(of_, "progress", bar, {}, p.position);
  }
  int add_list_row(std::string_view list, int, int) override {
    ControlState& l = of_.control(list);
    l.rows.emplace_back();
    const int index = static_cast<int>(l.rows.size()) - 1;
    rt_.record(of_, "add_row", list, {}, index);
    return index;
  }
  form::ListRow get_list_row(std::string_view list, int index) override { return {std::string(list), index}; }
  void set_list_row_text(const form::ListRow& row, std::string_view text, int) override {
    ControlState& l = of_.control(row.list);
    if (row.index < 0 || static_cast<std::size_t>(row.index) >= l.rows.size()) {
      throw std::out_of_range("list " + row.list + " has no row " + std::to_string(row.index));
    }
    l.rows[static_cast<std::size_t>(row.index)] = std::string(text);
    rt_.record(of_, "row_text", row.list, text, row.index);
    if (rt_.on_row_text) rt_.on_row_text(of_.record->name, text);
  }
  void show_list_row(const form::ListRow& row) override { rt_.record(of_, "show_row", row.list, {}, row.index); }
  void refresh_control(std::string_view control) override {
    of_.control(control);
    rt_.record(of_, "refresh", control);
  }
  void set_control_visible(std::string_view control, bool visible) override {
    of_.control(control).visible = visible;
    rt_.record(of_, "visible", control, {}, visible ? 1 : 0);
  }

 private:
  HeadlessRuntime& rt_;
  OpenForm& of_;
};

HeadlessRuntime::HeadlessRuntime(form::FormSet& forms, platform::CommandRunner& commands, Pacer& pacer)
    : forms_(forms), commands_(commands), pacer_(pacer) {}

HeadlessRuntime::~HeadlessRuntime() = default;

int HeadlessRuntime::run(std::string_view start_form) {
  form::Form* form = forms_.find(start_form);
  if (form == nullptr) throw std::invalid_argument("no form named " + std::string(start_form));
  return run_form(*form);
}

void HeadlessRuntime::at(std::int64_t ms, std::function<void()> action) { actions_.emplace(ms, std::move(action)); }

bool HeadlessRuntime::click(std::string_view button) {
  for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
    OpenForm& of = **it;
    const auto c = of.record->controls.find(button);
    if (c == of.record->controls.end() || c->second.design->kind != form::ControlKind::button) continue;
    if (it != stack_.rbegin() || !c->second.visible || of.closing) {
      record(of, "blocked_click", button);
      return false;
    }
    record(of, "click", button);
    Context ctx(*this, of);
    of.form->click(ctx, button);
    return true;
  }
  return false;
}

std::vector<Event> HeadlessRuntime::events(std::string_view op) const {
  std::vector<Event> out;
  std::copy_if(journal_.begin(), journal_.end(), std::back_inserter(out), [&](const Event& e) { return e.op == op; });
  return out;
}

const FormRecord* HeadlessRuntime::last(std::string_view form) const {
  for (auto it = openings_.rbegin(); it != openings_.rend(); ++it) {
    if (it->name == form) return &*it;
  }
  return nullptr;
}

std::size_t HeadlessRuntime::count_openings(std::string_view form) const {
  return static_cast<std::size_t>(
      std::count_if(openings_.begin(), openings_.end(), [&](const FormRecord& r) { return r.name == form; }));
}

std::vector<std::string> HeadlessRuntime::open_forms() const {
  std::vector<std::string> names;
  for (const OpenForm* of : stack_) names.push_back(of->record->name);
  return names;
}

void HeadlessRuntime::record(const OpenForm& of, std::string op, std::string_view control, std::string_view text,
                             int value) {
  journal_.push_back({pacer_.now_ms(), of.record->name, std::move(op), std::string(control), std::string(text), value});
}

int HeadlessRuntime::run_form(form::Form& form) {
  const form::FormDesign& design = form.design();
  FormRecord& rec = openings_.emplace_back();
  rec.name = design.name;
  rec.opened_ms = pacer_.now_ms();
  for (const form::ControlDesign& c : design.controls) {
    ControlState s;
    s.design = &c;
    s.visible = c.visible;
    s.position = c.position;
    s.timer_on = c.kind == form::ControlKind::timer && c.enabled;
    s.due_ms = rec.opened_ms + std::max(c.interval_ms, 1);
    rec.controls.emplace(c.name, std::move(s));
  }
  OpenForm of{&form, &rec, false};
  stack_.push_back(&of);
  Context ctx(*this, of);
  record(of, "open");
  try {
    form.form_open(ctx);
    while (!of.closing) step();
    form.form_close(ctx);
  } catch (...) {
    stack_.pop_back();
    throw;
  }
  rec.closed_ms = pacer_.now_ms();
  record(of, "close");
  stack_.pop_back();
  return 0;
}

void HeadlessRuntime::step() {
  constexpr auto kNever = std::numeric_limits<std::int64_t>::max();
  std::int64_t next = actions_.empty() ? kNever : actions_.begin()->first;
  OpenForm* due_form = nullptr;
  ControlState* due_timer = nullptr;
  // Only the innermost form's timers tick: every form below it is inside a
  // handler (the one that opened the form above it), and a handler never
  // runs inside itself.
  if (!stack_.empty()) {
    for (auto& [name, c] : stack_.back()->record->controls) {
      if (c.timer_on && c.due_ms < (due_timer ? due_timer->due_ms : kNever)) {
        due_form = stack_.back();
        due_timer = &c;
      }
    }
  }
  if (due_timer != nullptr && due_timer->due_ms < next) next = due_timer->due_ms;
  if (next != kNever && next > limit_ms_) {
    throw std::runtime_error("headless runtime: time limit reached at " + std::to_string(next) + " ms");
  }
  if (const auto line = pacer_.wait(next == kNever ? -1 : next)) {
    if (on_input) {
      on_input(*line);
    } else {
      default_input(*line);
    }
    return;
  }
  const std::int64_t now = pacer_.now_ms();
  if (!actions_.empty() && actions_.begin()->first <= now &&
      (due_timer == nullptr || actions_.begin()->first <= due_timer->due_ms)) {
    auto action = std::move(actions_.begin()->second);
    actions_.erase(actions_.begin());
    action();
    return;
  }
  if (due_timer != nullptr && due_timer->due_ms <= now) {
    due_timer->due_ms = now + std::max(due_timer->design->interval_ms, 1);
    record(*due_form, "tick", due_timer->design->name);
    Context ctx(*this, *due_form);
    due_form->form->tick(ctx, due_timer->design->name);
  }
}

void HeadlessRuntime::default_input(std::string_view line) {
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || stack_.empty()) return;
  const char wanted = static_cast<char>(line[first] | 0x20);
  for (const form::ControlDesign& c : stack_.back()->form->design().controls) {
    if (c.kind == form::ControlKind::button && !c.caption.empty() && static_cast<char>(c.caption[0] | 0x20) == wanted) {
      click(c.name);
      return;
    }
  }
}

}  // namespace kav::ui::headless
