// The headless runtime's driver for the shared runtime tests: the forms'
// state looked into the way console mode shows it (texts as UTF-8, without
// their trailing blanks), on the virtual clock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "ui/headless/headless_runtime.h"

namespace kav::ui::headless::testing {

// A form or one of its controls, as the shared tests hold a window.
struct View {
  const FormRecord* form = nullptr;
  std::string control;  // empty for the form itself
  const View* owner = nullptr;
  class HeadlessUnderTest* runtime = nullptr;
};

// The headless runtime with what the shared tests ask of a runtime.
class HeadlessUnderTest {
 public:
  HeadlessUnderTest(form::FormSet& forms, platform::CommandRunner& commands) : runtime_(forms, commands, pacer_) {
    runtime_.record_everything();
    runtime_.on_open = [this](std::string_view form) {
      while (!open_.empty() && open_.back()->form->closed_ms >= 0) open_.pop_back();
      const View* owner = open_.empty() ? nullptr : open_.back();
      open_.push_back(&views_.emplace_back(View{runtime_.innermost(), {}, owner, this}));
      if (built_) built_(form, open_.back());
    };
  }

  int run(std::string_view start_form) { return runtime_.run(start_form); }
  int open_forms() const { return static_cast<int>(runtime_.open_forms().size()); }
  // Without a hook a box is what console mode makes of it: a line that
  // waits for nobody (kept here until close_boxes).
  void set_message_box_hook(std::function<void(const std::string&, int)> hook) {
    runtime_.on_message_box = [this](std::string_view, std::string_view text, int) {
      boxes_.push_back(record::to_utf8(record::trim_right(text)));
    };
    if (!hook) return;
    runtime_.on_message_box = [hook = std::move(hook)](std::string_view, std::string_view text, int style) {
      hook(record::to_utf8(record::trim_right(text)), style);
    };
  }
  void set_built_hook(std::function<void(std::string_view, const View*)> hook) { built_ = std::move(hook); }
  void set_show_delay_ms(int ms) { runtime_.core().set_show_delay_ms(ms); }
  void set_time_scale(double) {}  // time is virtual
  std::int64_t now_ms() { return runtime_.now_ms(); }

  HeadlessRuntime& runtime() { return runtime_; }
  std::vector<std::string>& boxes() { return boxes_; }
  const View* view(const FormRecord* form, std::string control) {
    return &views_.emplace_back(View{form, std::move(control), nullptr, this});
  }

 private:
  platform::ManualClock clock_{2020, 1, 1};
  VirtualPacer pacer_{clock_};
  HeadlessRuntime runtime_;
  std::function<void(std::string_view, const View*)> built_;
  std::deque<View> views_;
  std::vector<const View*> open_;
  std::vector<std::string> boxes_;
};

struct HeadlessDriver {
  using Runtime = HeadlessUnderTest;
  using Window = const View*;

  static void set_built_hook(Runtime& runtime, std::function<void(std::string_view, Window)> hook) {
    runtime.set_built_hook(std::move(hook));
  }
  // Controls are named with case and trailing blanks ignored.
  static std::string key(std::string_view name) {
    std::string k(record::trim_right(name));
    for (char& c : k) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return k;
  }
  static const ControlState* state(Window w, std::string_view name) {
    for (const auto& [control, s] : w->form->controls) {
      if (key(control) == key(name)) return &s;
    }
    return nullptr;
  }
  static const ControlState& state(Window w) { return *state(w, w->control); }
  static Window find(Window form, std::string_view control) {
    return state(form, control) == nullptr ? nullptr : form->runtime->view(form->form, std::string(control));
  }
  static std::string text(Window w) {
    return record::to_utf8(w->control.empty() ? w->form->design->caption : state(w).design->caption);
  }
  static std::string column_title(Window list, int column) {
    return record::to_utf8(state(list).design->columns.at(static_cast<std::size_t>(column)).title);
  }
  static int row_count(Window list) { return static_cast<int>(state(list).rows.size()); }
  static std::string row_text(Window list, int row) {
    return record::to_utf8(record::trim_right(state(list).rows.at(static_cast<std::size_t>(row))));
  }
  static int progress(Window bar) { return state(bar).position; }
  // The operator's selection, as console mode's "command N" leaves it.
  static void select(Window list, int row) { const_cast<ControlState&>(state(list)).selected = row; }
  static int selected(Window list) { return state(list).selected; }
  static std::string cell_text(Window list, int row, int column) {
    const ControlState& l = state(list);
    return record::to_utf8(l.cells.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column)));
  }
  // A form as a window runtime would show it; a control while it, the frame
  // that holds it and its form are visible.
  static bool visible(Window w) {
    if (!w->form->shown || w->form->closed_ms >= 0) return false;
    if (w->control.empty()) return true;
    const ControlState& c = state(w);
    if (!c.visible) return false;
    const ControlState* frame = c.design->parent.empty() ? nullptr : state(w, c.design->parent);
    return frame == nullptr || frame->visible;
  }
  static Window owner(Window form) { return form->owner; }
  static void click(Window button) { button->runtime->runtime().click(state(button).design->name); }
  static std::vector<std::string> open_boxes(Runtime& runtime) { return runtime.boxes(); }
  static void close_boxes(Runtime& runtime) { runtime.boxes().clear(); }
  static void pump_events_ms(int) {}  // nothing runs beside a message box
  static constexpr bool kDisablesCaller = false;
  static bool enabled(Window) { return true; }
  static constexpr int kTimerEarliestPercent = 100;
  static std::int64_t now_ms(Runtime& runtime) { return runtime.now_ms(); }
};

}  // namespace kav::ui::headless::testing
