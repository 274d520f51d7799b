// Small forms for the runtime's tests: a design and handlers given as lambdas.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "form/form.h"
#include "platform/command_runner.h"

namespace kav::ui::fakes {

class ScriptedForm : public form::Form {
 public:
  explicit ScriptedForm(std::string name, std::string caption = "Test") {
    design_.name = std::move(name);
    design_.caption = std::move(caption);
    design_.width = 300;
    design_.height = 200;
  }

  const form::FormDesign& design() const override { return design_; }
  form::FormDesign& edit() { return design_; }

  form::ControlDesign& add(form::ControlDesign c) {
    design_.controls.push_back(std::move(c));
    return design_.controls.back();
  }
  form::ControlDesign& add_timer(std::string name, int interval_ms, bool enabled = true) {
    form::ControlDesign c;
    c.name = std::move(name);
    c.kind = form::ControlKind::timer;
    c.interval_ms = interval_ms;
    c.enabled = enabled;
    return add(std::move(c));
  }
  form::ControlDesign& add_control(std::string name, form::ControlKind kind, std::string caption = {}) {
    form::ControlDesign c;
    c.name = std::move(name);
    c.kind = kind;
    c.caption = std::move(caption);
    c.width = 100;
    c.height = 20;
    return add(std::move(c));
  }

  std::function<void(form::FormContext&)> on_open, on_close;
  std::function<void(form::FormContext&, std::string_view)> on_tick, on_click;
  std::function<void(form::FormContext&, std::uint16_t&, std::uint16_t)> on_key;
  std::vector<std::string> events;  // "open", "tick:<timer>", "click:<button>", "close"

  void form_open(form::FormContext& ctx) override {
    events.push_back("open");
    if (on_open) on_open(ctx);
  }
  void form_close(form::FormContext& ctx) override {
    events.push_back("close");
    if (on_close) on_close(ctx);
  }
  void tick(form::FormContext& ctx, std::string_view timer) override {
    events.push_back("tick:" + std::string(timer));
    if (on_tick) on_tick(ctx, timer);
  }
  void click(form::FormContext& ctx, std::string_view button) override {
    events.push_back("click:" + std::string(button));
    if (on_click) on_click(ctx, button);
  }
  void key_down(form::FormContext& ctx, std::uint16_t& key, std::uint16_t shift) override {
    if (on_key) on_key(ctx, key, shift);
  }

 private:
  form::FormDesign design_;
};

// Records the command lines instead of running them.
class RecordingRunner : public platform::CommandRunner {
 public:
  struct Call {
    std::string line;
    int window_mode;
  };
  std::vector<Call> calls;
  platform::Status result;
  int takes_ms = 0;  // how long each command runs (the runtime runs it off the GUI thread)
  platform::Status run(std::string_view command_line, int window_mode) override {
    calls.push_back({std::string(command_line), window_mode});
    if (takes_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(takes_ms));
    return result;
  }
};

}  // namespace kav::ui::fakes
