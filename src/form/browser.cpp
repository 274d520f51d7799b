#include "form/browser.h"

namespace kav::form {

ControlDesign BrowserPulse::timer() {
  ControlDesign timer{.name = std::string(kTimer), .kind = ControlKind::timer};
  timer.interval_ms = 1000;
  timer.enabled = true;
  return timer;
}

void BrowserPulse::tick(FormContext& ctx, std::string_view timer, const std::function<void()>& refresh) {
  if (timer != kTimer) return;
  ctx.set_timer_enabled(kTimer, false);
  if (pulse_) pulse_();
  if (++ticks_ % kRefreshEvery == 0) refresh();
  ctx.set_timer_enabled(kTimer, true);
}

ControlDesign push_button(std::string name, std::string caption, int x, int y, int width, int height,
                          const Font& font) {
  ControlDesign button{.name = std::move(name), .kind = ControlKind::button, .caption = std::move(caption)};
  button.x = x, button.y = y, button.width = width, button.height = height;
  button.font = font;
  return button;
}

}  // namespace kav::form
