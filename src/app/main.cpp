// KavComanda: starts the form runtime with the application's forms and shows
// the start form; the program ends when that form closes.
//
// No command line and no configuration file: the platform layer reads
// KAVCOMANDA_ROOT, KAVCOMANDA_UI and KAVCOMANDA_WEB_HOST.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/application.h"
#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "platform/instance_lock.h"
#include "platform/platform.h"
#include "platform/web_host.h"
#include "ui/headless/headless_runtime.h"
#ifdef KAV_WITH_QT
#include "ui/qt/qt_runtime.h"
#endif
#ifdef KAV_WITH_WIN32
#include "ui/win32/win32_runtime.h"
#endif

namespace {

using namespace kav;

bool want_windows() {
  if (const char* ui = std::getenv("KAVCOMANDA_UI"); ui != nullptr && *ui != '\0') return std::string(ui) == "qt";
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (const char* v = std::getenv(var); v != nullptr && *v != '\0') return true;
  }
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* ui = std::getenv("KAVCOMANDA_UI");
      ui != nullptr && *ui != '\0' && std::string(ui) != "qt" && std::string(ui) != "console") {
    std::fprintf(stderr, "kavcomanda: KAVCOMANDA_UI must be \"qt\" or \"console\", not \"%s\"\n", ui);
    return 2;
  }
  const std::string web_host = platform::web_host_from_environment();
  if (const auto problem = platform::check_web_host(web_host)) {
    std::fprintf(stderr, "kavcomanda: KAVCOMANDA_WEB_HOST \"%s\" refused: %s\n", web_host.c_str(), problem->c_str());
    return 2;
  }

  const auto files = platform::make_os_file_system(platform::default_root());
  std::unique_ptr<platform::InstanceLock> instance_lock;  // one monitor per root, for the program's life
  if (platform::take_instance_lock(*files, instance_lock) == platform::LockOutcome::held) {
    const std::string text = "O Monitor Comandas j\xE1 est\xE1 em execu\xE7\xE3o nesta pasta !!!";
#ifdef KAV_WITH_QT
    if (want_windows()) return ui::qt::show_refusal("Monitor Comandas", text, argc, argv);
#endif
    std::fprintf(stderr, "kavcomanda: another monitor already runs on %s; not started\n",
                 files->host_path(platform::kInstanceLockPath).c_str());
    return 3;
  }
  const auto clock = platform::make_system_clock();
  const auto commands = platform::make_command_runner(*files);
  const auto printing = platform::make_print_service(
      *files, *clock, orders::fcomanda_layout(),
      [&](std::string_view text) { log::write_log_line(*files, *clock, text); });
  const auto keyed = platform::make_keyed_files(*files);
  platform::Platform services{*files, *clock, *commands, *printing, *keyed};
  app::Application application(services, web_host);

  if (want_windows()) {
#if defined(KAV_WITH_WIN32)
    return ui::win32::run_windowed(application.forms(), services.commands, app::kStartForm);
#elif defined(KAV_WITH_QT)
    return ui::qt::run_windowed(application.forms(), services.commands, app::kStartForm, argc, argv);
#else
    std::fprintf(stderr, "kavcomanda: built without windows; running in console mode\n");
#endif
  }
  (void)argc;
  (void)argv;
  return ui::headless::run_console(application.forms(), services.commands, app::kStartForm);
}
