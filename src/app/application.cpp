#include "app/application.h"

namespace kav::app {

Application::Application(platform::Platform& platform, std::string web_host)
    : alerts_([&platform](std::string_view text) { log::write_log_line(platform.files, platform.clock, text); }),
      menu_(link_, platform.clock, alerts_),
      comandas_(link_, platform, web_host, alerts_),
      exporta_(link_, platform, web_host),
      log_(link_, platform.files, platform.clock) {
  forms_.add(menu_);
  forms_.add(comandas_);
  forms_.add(exporta_);
  forms_.add(log_);
}

}  // namespace kav::app
