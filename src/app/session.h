// The program's run: the application's forms, with the start form wrapped so
// that the day's log shows when the monitor started and when it ended.
#pragma once

#include <functional>

#include "app/application.h"
#include "form/form.h"
#include "printing/print_service.h"

namespace kav::app {

inline constexpr std::string_view kStartText = "Início do monitor";
inline constexpr std::string_view kEndText = "Fim do monitor";

// The start form as the runtime sees it: the same design and handlers; its
// opening logs "Início do monitor" before the form's own FormOpen, its
// closing logs "Fim do monitor" after the form's own FormClose and the print
// service's finish (whose last reports so come before it), both through the
// log form like every other line.
class LoggedStartForm final : public form::Form {
 public:
  // With `files`, the start line is synced as soon as it is written, so a
  // power cut never takes the start of a run from the day's log.
  LoggedStartForm(form::Form& start, log::LLink& link, platform::PrintService& printing,
                  platform::FileSystem* files = nullptr)
      : start_(start), link_(link), printing_(printing), files_(files) {}
  const form::FormDesign& design() const override { return start_.design(); }
  void form_open(form::FormContext& ctx) override;
  void form_close(form::FormContext& ctx) override;
  void tick(form::FormContext& ctx, std::string_view timer) override { start_.tick(ctx, timer); }
  void click(form::FormContext& ctx, std::string_view button) override { start_.click(ctx, button); }
  void answer(form::FormContext& ctx, std::string_view question, bool yes) override {
    start_.answer(ctx, question, yes);
  }
  void key_down(form::FormContext& ctx, std::uint16_t& key, std::uint16_t shift) override {
    start_.key_down(ctx, key, shift);
  }
  // Runs after the print service's finish, before "Fim do monitor" is logged.
  void on_end(std::function<void()> ending) { ending_ = std::move(ending); }

 private:
  void log_line(form::FormContext& ctx, std::string_view utf8_text);
  form::Form& start_;
  log::LLink& link_;
  platform::PrintService& printing_;
  platform::FileSystem* files_;
  std::function<void()> ending_;
};

class Session {
 public:
  explicit Session(Application& application);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // The forms to run, kStartForm among them.
  form::FormSet& forms() { return forms_; }
  // What runs when the monitor ends, before its last line.
  void on_end(std::function<void()> ending) { start_.on_end(std::move(ending)); }

 private:
  LoggedStartForm start_;
  form::FormSet forms_;
};

}  // namespace kav::app
