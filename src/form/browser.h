// What the forms share that the operator keeps open over the monitor to
// browse records (the reprint list, the kept answers): the monitor's work
// goes on beneath them. Their timer Cm_Timer ticks every second and calls
// the monitor's pulse (its progress bar and its checks); every fifth tick,
// when the checks may have brought something new, the form's list is
// brought up to date.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "form/form.h"

namespace kav::form {

class BrowserPulse {
 public:
  static constexpr std::string_view kTimer = "Cm_Timer";
  static constexpr int kRefreshEvery = 5;  // ticks

  // The design of Cm_Timer: enabled, every second.
  static ControlDesign timer();

  void set(std::function<void()> pulse) { pulse_ = std::move(pulse); }
  // A fresh opening counts its ticks from 0.
  void restart() { ticks_ = 0; }
  // Whether no tick has come since the form opened.
  bool fresh() const { return ticks_ == 0; }
  // A tick of `timer`: when it is Cm_Timer, switched off while the pulse
  // runs (a check may take long), then `refresh` on every fifth tick.
  void tick(FormContext& ctx, std::string_view timer, const std::function<void()>& refresh);

 private:
  std::function<void()> pulse_;
  int ticks_ = 0;
};

// A push button of a browsing form.
ControlDesign push_button(std::string name, std::string caption, int x, int y, int width, int height,
                          const Font& font);

}  // namespace kav::form
