#include "ui/headless/headless_runtime.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>

#include "record/area.h"
#include "record/cp1252.h"

namespace kav::ui::headless {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A command line without its trailing blanks. The forms hand over lines
// padded to thousands of blanks: whole blocks of blanks go first, compared
// at once, and the last few one by one.
std::string_view command_text(std::string_view line) {
  static constexpr std::size_t kBlock = 256;
  static const std::string blanks(kBlock, ' ');
  std::size_t end = line.size();
  while (end >= kBlock && line.compare(end - kBlock, kBlock, blanks) == 0) end -= kBlock;
  return record::trim_right(line.substr(0, end));
}

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

// The commands a button's caption offers: its first letter and its first word.
bool names_button(const form::ControlDesign& c, std::string_view typed) {
  if (c.kind != form::ControlKind::button || typed.empty()) return false;
  const std::string_view caption = trim(c.caption);
  const std::string_view word = caption.substr(0, caption.find(' '));
  return same_text(typed, word) || (typed.size() == 1 && !word.empty() && lower(word[0]) == lower(typed[0]));
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

}  // namespace

std::optional<std::string> VirtualPacer::wait(std::int64_t deadline_ms) {
  if (deadline_ms < 0) throw RunAbandoned("headless runtime: nothing is left that could happen");
  if (deadline_ms > clock_.elapsed_ms()) clock_.advance_ms(deadline_ms - clock_.elapsed_ms());
  return std::nullopt;
}

const ControlState& FormRecord::control(std::string_view control_name) const {
  const auto it = controls.find(control_name);
  if (it == controls.end()) throw std::out_of_range("form " + name + " has no control " + std::string(control_name));
  return it->second;
}

std::vector<Event> Recorder::events(std::string_view op) const {
  std::vector<Event> out;
  std::copy_if(journal.begin(), journal.end(), std::back_inserter(out), [&](const Event& e) { return e.op == op; });
  return out;
}

const FormRecord* Recorder::last(std::string_view form) const {
  for (auto it = openings.rbegin(); it != openings.rend(); ++it) {
    if (it->name == form) return &*it;
  }
  return nullptr;
}

std::size_t Recorder::count_openings(std::string_view form) const {
  return static_cast<std::size_t>(
      std::count_if(openings.begin(), openings.end(), [&](const FormRecord& r) { return r.name == form; }));
}

struct HeadlessRuntime::OpenForm {
  form::Form* form = nullptr;
  FormRecord* record = nullptr;
  bool closing = false;
  bool start = false;
};

class HeadlessRuntime::Context final : public form::FormContext {
 public:
  Context(HeadlessRuntime& rt, OpenForm& of) : rt_(rt), of_(of) {}

  int run_form_modal(std::string_view name) override {
    form::Form* form = rt_.forms_.find(name);
    if (form == nullptr) {
      rt_.record(of_, "error", {}, form::unknown_form_error(name));
      rt_.error(form::unknown_form_error(name));
      show_message_box(form::unknown_form_text(name), form::kStyleError);
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
    const std::string_view line = command_text(command);
    const int rc = rt_.commands_.run(line, window_mode);
    rt_.record(of_, "command", {}, line, rc);
    return rc;
  }
  void set_timer_enabled(std::string_view timer, bool on) override {
    ControlState* t = control(timer, form::ControlKind::timer);
    if (t == nullptr) return;
    t->timer_on = on;
    if (on) t->due_ms = rt_.pacer_.now_ms() + std::max(t->design->interval_ms, 1);
    rt_.record(of_, "timer", timer, {}, on ? 1 : 0);
  }
  void step_progress(std::string_view bar) override {
    ControlState* p = control(bar, form::ControlKind::progress);
    if (p == nullptr) return;
    p->position = std::min(p->position + p->design->step, p->design->maximum);
    rt_.record(of_, "step", bar, {}, p->position);
  }
  int get_progress_value(std::string_view bar) override {
    const ControlState* p = control(bar, form::ControlKind::progress);
    return p == nullptr ? 0 : p->position;
  }
  void set_progress_value(std::string_view bar, int value) override {
    ControlState* p = control(bar, form::ControlKind::progress);
    if (p == nullptr) return;
    p->position = std::clamp(value, p->design->minimum, p->design->maximum);
    rt_.record(of_, "progress", bar, {}, p->position);
  }
  int add_list_row(std::string_view list, int, int) override {
    ControlState* l = control(list, form::ControlKind::list);
    if (l == nullptr) return -1;
    if (l->rows.size() >= static_cast<std::size_t>(form::kListRowLimit)) {
      l->rows.erase(l->rows.begin(), l->rows.end() - (form::kListRowLimit - form::kListRowDrop));
    }
    l->rows.emplace_back();
    const int index = static_cast<int>(l->rows.size()) - 1;
    rt_.record(of_, "add_row", list, {}, index);
    return index;
  }
  form::ListRow get_list_row(std::string_view list, int index) override {
    const ControlState* l = control(list, form::ControlKind::list);
    const bool exists = l != nullptr && index >= 0 && static_cast<std::size_t>(index) < l->rows.size();
    return {std::string(list), exists ? index : -1};
  }
  void set_list_row_text(const form::ListRow& row, std::string_view text, int column) override {
    ControlState* l = control(row.list, form::ControlKind::list);
    if (l == nullptr || row.index < 0 || static_cast<std::size_t>(row.index) >= l->rows.size()) return;
    if (column != 1) return;  // the lists have one column
    l->rows[static_cast<std::size_t>(row.index)] = std::string(text);
    rt_.record(of_, "row_text", row.list, text, row.index);
    if (rt_.on_row_text) rt_.on_row_text(of_.record->name, list_label(*l), text);
  }
  void remove_list_row(const form::ListRow& row) override {
    ControlState* l = control(row.list, form::ControlKind::list);
    if (l == nullptr || row.index < 0 || static_cast<std::size_t>(row.index) >= l->rows.size()) return;
    const auto it = l->rows.begin() + row.index;
    const std::string text = std::move(*it);
    l->rows.erase(it);
    rt_.record(of_, "remove_row", row.list, text, row.index);
    if (rt_.on_row_removed) rt_.on_row_removed(of_.record->name, list_label(*l), text);
  }
  void show_list_row(const form::ListRow& row) override {
    if (control(row.list, form::ControlKind::list) == nullptr) return;
    rt_.record(of_, "show_row", row.list, {}, row.index);
  }
  void refresh_control(std::string_view name) override {
    if (control(name) == nullptr) return;
    rt_.record(of_, "refresh", name);
  }
  void set_control_visible(std::string_view name, bool visible) override {
    ControlState* c = control(name);
    if (c == nullptr) return;
    c->visible = visible;
    rt_.record(of_, "visible", name, {}, visible ? 1 : 0);
  }

 private:
  // Empty for the form's first list (its status list); otherwise the title
  // of the list's first column, or its name.
  std::string_view list_label(const ControlState& list) const {
    for (const form::ControlDesign& c : of_.form->design().controls) {
      if (c.kind != form::ControlKind::list) continue;
      if (&c == list.design) return {};
      break;
    }
    const form::ControlDesign& d = *list.design;
    return d.columns.empty() || d.columns.front().title.empty() ? std::string_view(d.name)
                                                                : std::string_view(d.columns.front().title);
  }

  // The named control of this form: of `kind`, or any control that is drawn
  // (not a timer) when `kind` is not given. Reported when missing.
  ControlState* control(std::string_view name, std::optional<form::ControlKind> kind = std::nullopt) {
    const auto it = of_.record->controls.find(record::trim_right(name));
    const bool fits = it != of_.record->controls.end() &&
                      (kind ? it->second.design->kind == *kind : it->second.design->kind != form::ControlKind::timer);
    if (fits) return &it->second;
    std::string key = of_.record->name + '\n' + lowered(record::trim_right(name));
    if (rt_.reported_.insert(std::move(key)).second) {
      const std::string message = form::unknown_control_error(of_.record->name, name);
      rt_.record(of_, "error", name, message);
      rt_.error(message);
    }
    return nullptr;
  }

  HeadlessRuntime& rt_;
  OpenForm& of_;
};

HeadlessRuntime::HeadlessRuntime(form::FormSet& forms, platform::CommandRunner& commands, Pacer& pacer)
    : forms_(forms), commands_(commands), pacer_(pacer) {}

HeadlessRuntime::~HeadlessRuntime() = default;

Recorder& HeadlessRuntime::record_everything() {
  if (recorder_ == nullptr) {
    own_recorder_ = std::make_unique<Recorder>();
    recorder_ = own_recorder_.get();
  }
  return *recorder_;
}

const Recorder& HeadlessRuntime::instruments() const {
  if (recorder_ == nullptr) throw std::logic_error("headless runtime: no recorder attached (test instruments off)");
  return *recorder_;
}

int HeadlessRuntime::run(std::string_view start_form) {
  form::Form* form = forms_.find(start_form);
  if (form == nullptr) {
    error(form::unknown_form_error(start_form));
    if (on_message_box) on_message_box("", form::unknown_form_text(start_form), form::kStyleError);
    return 1;
  }
  run_form(*form);
  return 0;
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
    guarded(of, [&] { of.form->click(ctx, button); });
    return true;
  }
  return false;
}

HeadlessRuntime::Typed HeadlessRuntime::type_command(std::string_view line) {
  const std::string_view typed = trim(line);
  for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
    for (const form::ControlDesign& c : (*it)->form->design().controls) {
      if (!names_button(c, typed)) continue;
      if (it != stack_.rbegin()) {
        record(**it, "blocked_click", c.name);
        return Typed::blocked;
      }
      return click(c.name) ? Typed::pressed : Typed::blocked;
    }
  }
  return Typed::unknown;
}

std::string HeadlessRuntime::commands_help() const {
  if (stack_.empty()) return {};
  std::string help;
  for (const form::ControlDesign& c : stack_.front()->form->design().controls) {
    if (c.kind != form::ControlKind::button) continue;
    const std::string_view caption = trim(c.caption);
    const std::string word = lowered(caption.substr(0, caption.find(' ')));
    if (word.empty()) continue;
    if (!help.empty()) help += ", ";
    help += word.substr(0, 1) + " or " + word + " = \"" + record::to_utf8(caption) + "\"";
  }
  return help;
}

std::vector<std::string> HeadlessRuntime::open_forms() const {
  std::vector<std::string> names;
  for (const OpenForm* of : stack_) names.push_back(of->record->name);
  return names;
}

const FormRecord* HeadlessRuntime::innermost() const { return stack_.empty() ? nullptr : stack_.back()->record; }

void HeadlessRuntime::record(const OpenForm& of, std::string_view op, std::string_view control, std::string_view text,
                             int value) {
  if (recorder_ == nullptr) return;
  recorder_->journal.push_back(
      {pacer_.now_ms(), of.record->name, std::string(op), std::string(control), std::string(text), value});
}

void HeadlessRuntime::error(std::string_view message) {
  if (on_error) {
    on_error(message);
  } else {
    std::fprintf(stderr, "kavcomanda: %.*s\n", static_cast<int>(message.size()), message.data());
  }
}

// A handler that fails is reported and counts as returned; a called form is
// then closed so that its caller goes on.
template <class Handler>
void HeadlessRuntime::guarded(OpenForm& of, Handler&& handler) {
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
  const std::string message = form::handler_failure_error(of.record->name, what);
  record(of, "error", {}, message);
  error(message);
  Context ctx(*this, of);
  ctx.show_message_box(form::handler_failure_text(of.record->name), form::kStyleError);
  if (!of.start) of.closing = true;
}

int HeadlessRuntime::run_form(form::Form& form) {
  const form::FormDesign& design = form.design();
  FormRecord unrecorded;
  FormRecord& rec = recorder_ != nullptr ? recorder_->openings.emplace_back() : unrecorded;
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
  OpenForm of{&form, &rec, false, stack_.empty()};
  stack_.push_back(&of);
  Context ctx(*this, of);
  record(of, "open");
  try {
    guarded(of, [&] { form.form_open(ctx); });
    while (!of.closing) step();
    guarded(of, [&] { form.form_close(ctx); });
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
  // A stop asked from outside ends the start form as "Sair" would: only when
  // no other form is open, so a check or an export ends first.
  if (stack_.size() == 1 && pacer_.stop_requested()) {
    record(*stack_.back(), "stop");
    stack_.back()->closing = true;
    return;
  }
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
  if (recorder_ != nullptr && next != kNever && next > recorder_->limit_ms) {
    throw RunAbandoned("headless runtime: time limit reached at " + std::to_string(next) + " ms");
  }
  if (const auto line = pacer_.wait(next == kNever ? -1 : next)) {
    if (on_input) {
      on_input(*line);
    } else {
      type_command(*line);
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
    guarded(*due_form, [&] { due_form->form->tick(ctx, due_timer->design->name); });
  }
}

}  // namespace kav::ui::headless
