#include "ui/headless/headless_runtime.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "record/area.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::ui::headless {

namespace {

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
  return record::same_letters(typed, word) ||
         (typed.size() == 1 && !word.empty() && record::lower(word[0]) == record::lower(typed[0]));
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

// One opening of a form as the headless runtime keeps it: the FormRecord of
// its controls, which a Recorder keeps after the form has closed.
class HeadlessRuntime::Window final : public form::Window {
 public:
  Window(HeadlessRuntime& rt, form::Opening& opening)
      : rt_(rt), opening_(opening), rec_(rt.recorder_ != nullptr ? rt.recorder_->openings.emplace_back() : own_) {
    rec_.name = opening.name();
    rec_.design = &opening.design();
    rec_.opened_ms = rt.pacer_.now_ms();
    for (const form::ControlDesign& c : opening.design().controls) {
      ControlState s;
      s.design = &c;
      s.visible = c.visible;
      s.position = c.position;
      rec_.controls.emplace(c.name, std::move(s));
    }
    rt_.stack_.push_back(this);
  }
  ~Window() override {
    if (rt_.asked_ == &opening_) rt_.asked_ = nullptr;
    rt_.stack_.pop_back();
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  form::Opening& opening() { return opening_; }
  const FormRecord& record() const { return rec_; }
  bool finished() const { return finished_; }

  // The timer of this form that is due first, or nullptr.
  ControlState* due_timer() {
    ControlState* due = nullptr;
    for (auto& [name, c] : rec_.controls) {
      if (c.timer_on && (due == nullptr || c.due_ms < due->due_ms)) due = &c;
    }
    return due;
  }

  void opened() override {
    if (rt_.on_open) rt_.on_open(rec_.name);
  }
  void show() override { rec_.shown = true; }
  void show_later(int) override {}  // Runtime::show_due, at every step
  void closed() override {
    rec_.closed_ms = rt_.pacer_.now_ms();
    if (rt_.on_close) rt_.on_close(rec_.name);
  }
  void run_events() override {
    while (!finished_) rt_.step();
  }
  void quit_events() override { finished_ = true; }

  // A box replaces an open question, which then answers "Não".
  void message_box(std::string_view text, int style) override {
    rt_.answer(false);
    if (rt_.on_message_box) rt_.on_message_box(rec_.name, text, style);
  }
  void ask(std::string_view text, std::string_view question) override {
    rt_.answer(false);
    rt_.asked_ = &opening_;
    rt_.question_ = std::string(question);
    if (rt_.on_question) {
      rt_.on_question(rec_.name, text);
    } else {
      rt_.answer(true);
    }
  }

  void start_timer(const form::ControlDesign& timer) override {
    ControlState& t = state(timer);
    t.timer_on = true;
    t.due_ms = rt_.pacer_.now_ms() + std::max(timer.interval_ms, 1);
  }
  void stop_timer(const form::ControlDesign& timer) override { state(timer).timer_on = false; }
  void set_position(const form::ControlDesign& bar, int position) override { state(bar).position = position; }
  void add_row(const form::ControlDesign& list) override {
    ControlState& l = state(list);
    l.rows.emplace_back();
    if (list.columns.size() > 1) l.cells.emplace_back(list.columns.size());
  }
  void drop_oldest_rows(const form::ControlDesign& list, int count) override {
    ControlState& l = state(list);
    const std::ptrdiff_t n = std::min<std::ptrdiff_t>(count, std::ssize(l.rows));
    l.rows.erase(l.rows.begin(), l.rows.begin() + n);
    if (!l.cells.empty()) l.cells.erase(l.cells.begin(), l.cells.begin() + n);
    l.selected = l.selected < n ? -1 : l.selected - static_cast<int>(n);
  }
  void remove_row(const form::ControlDesign& list, int row) override {
    ControlState& l = state(list);
    const std::string text = std::move(l.rows[static_cast<std::size_t>(row)]);
    l.rows.erase(l.rows.begin() + row);
    if (!l.cells.empty()) l.cells.erase(l.cells.begin() + row);
    if (l.selected == row) {
      l.selected = -1;
    } else if (l.selected > row) {
      --l.selected;
    }
    if (rt_.on_row_removed) rt_.on_row_removed(rec_.name, list_label(list), text);
  }
  void set_row_text(const form::ControlDesign& list, int row, int column, std::string_view text) override {
    ControlState& l = state(list);
    const auto r = static_cast<std::size_t>(row);
    if (l.cells.empty()) {
      l.rows[r] = std::string(text);
      if (rt_.on_row_text) rt_.on_row_text(rec_.name, list_label(list), text);
      return;
    }
    l.cells[r][static_cast<std::size_t>(column - 1)] = std::string(record::trim_right(text));
    std::string joined;
    for (const std::string& cell : l.cells[r]) joined.append(joined.empty() ? "" : " | ").append(cell);
    l.rows[r] = joined;
    if (rt_.on_row_text && static_cast<std::size_t>(column) == list.columns.size()) {
      rt_.on_row_text(rec_.name, list_label(list), std::to_string(row + 1) + ") " + joined);
    }
  }
  void show_row(const form::ControlDesign&, int) override {}
  int selected_row(const form::ControlDesign& list) override { return rec_.control(list.name).selected; }
  void select_row(const form::ControlDesign& list, int row) override { state(list).selected = row; }
  void refresh(const form::ControlDesign&) override {}
  void set_visible(const form::ControlDesign& control, bool visible) override { state(control).visible = visible; }
  std::string row_text(const form::ControlDesign& list, int row) const override {
    return rec_.control(list.name).rows[static_cast<std::size_t>(row)];
  }

 private:
  ControlState& state(const form::ControlDesign& c) { return rec_.controls.find(c.name)->second; }

  // Empty for the form's first list (its status list); otherwise the title
  // of the list's first column, or its name.
  std::string_view list_label(const form::ControlDesign& list) const {
    for (const form::ControlDesign& c : opening_.design().controls) {
      if (c.kind != form::ControlKind::list) continue;
      if (&c == &list) return {};
      break;
    }
    return list.columns.empty() || list.columns.front().title.empty() ? std::string_view(list.name)
                                                                      : std::string_view(list.columns.front().title);
  }

  HeadlessRuntime& rt_;
  form::Opening& opening_;
  FormRecord own_;  // when no recorder keeps the openings
  FormRecord& rec_;
  bool finished_ = false;
};

HeadlessRuntime::HeadlessRuntime(form::FormSet& forms, platform::CommandRunner& commands, Pacer& pacer)
    : commands_(commands), pacer_(pacer), core_(forms, *this) {}

HeadlessRuntime::~HeadlessRuntime() = default;

void HeadlessRuntime::attach(Recorder& recorder) {
  recorder_ = &recorder;
  core_.set_journal(this);
}

Recorder& HeadlessRuntime::record_everything() {
  if (recorder_ == nullptr) {
    own_recorder_ = std::make_unique<Recorder>();
    attach(*own_recorder_);
  }
  return *recorder_;
}

const Recorder& HeadlessRuntime::instruments() const {
  if (recorder_ == nullptr) throw std::logic_error("headless runtime: no recorder attached (test instruments off)");
  return *recorder_;
}

int HeadlessRuntime::run(std::string_view start_form) { return core_.run(start_form); }

void HeadlessRuntime::at(std::int64_t ms, std::function<void()> action) { actions_.emplace(ms, std::move(action)); }

bool HeadlessRuntime::click(std::string_view button) {
  for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
    const auto c = (*it)->record().controls.find(button);
    if (c == (*it)->record().controls.end() || c->second.design->kind != form::ControlKind::button) continue;
    return (*it)->opening().click(button);
  }
  return false;
}

bool HeadlessRuntime::answer(bool yes) {
  if (asked_ == nullptr) return false;
  form::Opening* asked = asked_;
  asked_ = nullptr;
  asked->answer(question_, yes);
  return true;
}

HeadlessRuntime::Typed HeadlessRuntime::type_command(std::string_view line) {
  std::string_view typed = trim(line);
  if (asked_ != nullptr) {
    const std::string word = record::lower(typed);
    if (word == "s" || word == "sim") return answer(true), Typed::answered;
    if (word == "n" || word == "nao" || word == "não" || word == record::cp1252("não")) return answer(false), Typed::answered;
  }
  // "t 3": the command, then the number of a row.
  std::string_view number;
  if (const auto blank = typed.find(' '); blank != std::string_view::npos) {
    number = trim(typed.substr(blank));
    typed = typed.substr(0, blank);
  }
  int row = -1;
  if (!number.empty()) {
    if (number.size() > 6 || number.find_first_not_of("0123456789") != std::string_view::npos) {
      return Typed::not_a_row;
    }
    row = std::stoi(std::string(number)) - 1;
  }
  for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
    for (const form::ControlDesign& c : (*it)->opening().design().controls) {
      if (!names_button(c, typed)) continue;
      form::Opening& opening = (*it)->opening();
      if (!number.empty() && opening.takes_input()) {
        const auto list = std::find_if(opening.design().controls.begin(), opening.design().controls.end(),
                                       [](const form::ControlDesign& d) { return d.kind == form::ControlKind::list; });
        if (list != opening.design().controls.end()) {
          typed_rows_ = static_cast<int>((*it)->record().control(list->name).rows.size());
          // A number that names no row presses nothing: the operator is told.
          if (row < 0 || row >= typed_rows_) return Typed::no_row;
          opening.select_list_row(form::ListRow{list->name, row});
        }
      }
      const bool waits = opening.input_waits();
      if (!opening.click(c.name)) return Typed::blocked;
      return waits ? Typed::waiting : Typed::pressed;
    }
  }
  return Typed::unknown;
}

std::string HeadlessRuntime::commands_help(bool start_form) const {
  if (stack_.empty()) return {};
  std::string help;
  std::string letters;  // a letter presses the first button it names
  for (const form::ControlDesign& c : (start_form ? stack_.front() : stack_.back())->opening().design().controls) {
    if (c.kind != form::ControlKind::button) continue;
    const std::string_view caption = trim(c.caption);
    const std::string word = record::lower(caption.substr(0, caption.find(' ')));
    if (word.empty()) continue;
    if (!help.empty()) help += ", ";
    if (letters.find(word[0]) == std::string::npos) {
      letters += word[0];
      help += record::to_utf8(word.substr(0, 1)) + " ou ";
    }
    help += record::to_utf8(word) + " = \"" + record::to_utf8(caption) + "\"";
  }
  return help;
}

std::vector<std::string> HeadlessRuntime::open_forms() const {
  std::vector<std::string> names;
  for (const Window* w : stack_) names.push_back(w->record().name);
  return names;
}

const FormRecord* HeadlessRuntime::innermost() const { return stack_.empty() ? nullptr : &stack_.back()->record(); }

std::unique_ptr<form::Window> HeadlessRuntime::open_window(form::Opening& opening, form::Window*) {
  return std::make_unique<Window>(*this, opening);
}

void HeadlessRuntime::message_box(std::string_view text, int style) {
  if (on_message_box) on_message_box("", text, style);
}

platform::Status HeadlessRuntime::run_command(std::string_view line, int window_mode) { return commands_.run(line, window_mode); }

void HeadlessRuntime::note(std::string_view form, std::string_view op, std::string_view control,
                           std::string_view text, int value) {
  if (recorder_ == nullptr) return;
  recorder_->journal.push_back(
      {pacer_.now_ms(), std::string(form), std::string(op), std::string(control), std::string(text), value});
}

void HeadlessRuntime::error(std::string_view message) {
  if (on_error) {
    on_error(message);
  } else {
    std::fprintf(stderr, "kavcomanda: %.*s\n", static_cast<int>(message.size()), message.data());
  }
}

void HeadlessRuntime::input(const std::string& line) {
  if (on_input) {
    on_input(line);
  } else {
    type_command(line);
  }
}

void HeadlessRuntime::check_limit(std::int64_t next_ms) const {
  if (recorder_ != nullptr && next_ms > recorder_->limit_ms) {
    throw RunAbandoned("headless runtime: time limit reached at " + std::to_string(next_ms) + " ms");
  }
}

void HeadlessRuntime::run_due_action() {
  auto action = std::move(actions_.begin()->second);
  actions_.erase(actions_.begin());
  action();
}

// A wait inside a handler: time passes, typed lines and the test's actions
// come as they would (the busy form takes none of them), no timer ticks.
void HeadlessRuntime::wait(int ms) {
  const std::int64_t until = pacer_.now_ms() + ms;
  while (pacer_.now_ms() < until) {
    const std::int64_t next = actions_.empty() ? until : std::min(until, actions_.begin()->first);
    check_limit(next);
    if (const auto line = pacer_.wait(next)) {
      input(*line);
      continue;
    }
    if (!actions_.empty() && actions_.begin()->first <= pacer_.now_ms()) run_due_action();
    core_.show_due();
  }
}

void HeadlessRuntime::step() {
  constexpr auto kNever = std::numeric_limits<std::int64_t>::max();
  Window& innermost = *stack_.back();
  // A stop asked from outside ends the start form as "Sair" would: only when
  // no other form is open, so a check or an export ends first.
  if (pacer_.stop_requested()) {
    core_.request_stop();
    if (innermost.finished()) return;
  }
  core_.show_due();
  std::int64_t next = actions_.empty() ? kNever : actions_.begin()->first;
  // Only the innermost form's timers tick: every form below it is inside a
  // handler (the one that opened the form above it), and a handler never
  // runs inside itself.
  ControlState* due_timer = innermost.due_timer();
  if (due_timer != nullptr && due_timer->due_ms < next) next = due_timer->due_ms;
  if (next != kNever) check_limit(next);
  if (const auto line = pacer_.wait(next == kNever ? -1 : next)) {
    input(*line);
    return;
  }
  const std::int64_t now = pacer_.now_ms();
  if (!actions_.empty() && actions_.begin()->first <= now &&
      (due_timer == nullptr || actions_.begin()->first <= due_timer->due_ms)) {
    run_due_action();
    return;
  }
  if (due_timer != nullptr && due_timer->due_ms <= now) {
    due_timer->due_ms = now + std::max(due_timer->design->interval_ms, 1);
    innermost.opening().tick(due_timer->design->name);
  }
}

}  // namespace kav::ui::headless
