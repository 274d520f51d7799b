#include "app/application.h"

namespace kav::app {

Application::Application(platform::Platform& platform, std::string web_host)
    : menu_(link_, platform.clock),
      comandas_(link_, platform, web_host),
      exporta_(link_, platform, web_host),
      log_(link_, platform.files, platform.clock) {
  forms_.add(menu_);
  forms_.add(comandas_);
  forms_.add(exporta_);
  forms_.add(log_);
}

}  // namespace kav::app
