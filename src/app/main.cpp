// KavComanda: starts the form runtime with the application's forms and shows
// the start form; the program ends when that form closes.
//
// No command line and no configuration file: the platform layer reads
// KAVCOMANDA_ROOT, KAVCOMANDA_UI and KAVCOMANDA_WEB_HOST.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/application.h"
#include "app/session.h"
#include "log/alerts.h"
#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "platform/instance_lock.h"
#include "platform/platform.h"
#include "platform/web_host.h"
#include "printing/spooling_print_service.h"
#include "ui/headless/headless_runtime.h"
#ifdef KAV_WITH_QT
#include "ui/qt/display.h"
#include "ui/qt/qt_runtime.h"
#endif
#ifdef KAV_WITH_WIN32
#include "ui/win32/win32_runtime.h"
#endif

namespace {

using namespace kav;

enum class Ui { windows, console, refused };

// How long a start waits for what the previous monitor left running: an
// exchange's bound and a little more.
constexpr std::chrono::milliseconds kEarlierProgramsWait =
    platform::kExchangeTimeLimit + std::chrono::seconds(5);

// KAVCOMANDA_UI, read once: "qt" asks for windows, "console" for console
// mode; without it windows are shown when a display is named.
Ui ui_from_environment() {
  const char* ui = std::getenv("KAVCOMANDA_UI");
  if (ui != nullptr && *ui != '\0') {
    const std::string wanted(ui);
    if (wanted == "qt") return Ui::windows;
    if (wanted == "console") return Ui::console;
    std::fprintf(stderr, "kavcomanda: KAVCOMANDA_UI must be \"qt\" or \"console\", not \"%s\"\n", ui);
    return Ui::refused;
  }
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (const char* v = std::getenv(var); v != nullptr && *v != '\0') return Ui::windows;
  }
#ifdef _WIN32
  return Ui::windows;
#else
  return Ui::console;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  Ui ui = ui_from_environment();
  if (ui == Ui::refused) return 2;
  const std::string web_host = platform::web_host_from_environment();
  if (const auto problem = platform::check_web_host(web_host)) {
    std::fprintf(stderr, "kavcomanda: KAVCOMANDA_WEB_HOST \"%s\" refused: %s\n", web_host.c_str(), problem->c_str());
    return 2;
  }
#ifdef KAV_WITH_QT
  if (ui == Ui::windows && !ui::qt::display_available()) {
    std::fprintf(stderr, "kavcomanda: no display could be opened; running in console mode\n");
    ui = Ui::console;
  }
#elif !defined(KAV_WITH_WIN32)
  if (ui == Ui::windows) {
    std::fprintf(stderr, "kavcomanda: built without windows; running in console mode\n");
    ui = Ui::console;
  }
#endif

  const auto files = platform::make_os_file_system(platform::default_root());
  std::unique_ptr<platform::InstanceLock> instance_lock;  // one monitor per root, for the program's life
  if (platform::take_instance_lock(*files, instance_lock) == platform::LockOutcome::held) {
    const std::string text = "O Monitor Comandas j\xE1 est\xE1 em execu\xE7\xE3o nesta pasta !!!";
#if defined(KAV_WITH_WIN32)
    if (ui == Ui::windows) return ui::win32::show_refusal("Monitor Comandas", text);
#elif defined(KAV_WITH_QT)
    if (ui == Ui::windows) return ui::qt::show_refusal("Monitor Comandas", text, argc, argv);
#endif
    std::fprintf(stderr, "kavcomanda: another monitor already runs on %s; not started\n",
                 files->host_path(platform::kInstanceLockPath).c_str());
    return 3;
  }
  const auto clock = platform::make_system_clock();
  // A monitor killed in the middle of an exchange leaves GNU Wget to finish
  // the answer: it is taken as work once Wget has ended (or been ended).
  if (!platform::wait_for_earlier_programs(*files, kEarlierProgramsWait)) {
    const std::string text = "Programa iniciado pelo monitor anterior ainda em execu\xE7\xE3o; prosseguindo";
    std::fprintf(stderr, "kavcomanda: a program the previous monitor started still runs; going on\n");
    log::write_log_line(*files, *clock, text);
  }
  const auto commands = platform::make_command_runner(*files);
  // The alert board stands before the print service that raises alerts on
  // it, and outlives it.
  log::Alerts board([&](std::string_view text) { log::write_log_line(*files, *clock, text); });
  const auto printing = kav::printing::make_print_service(
      *files, *clock, orders::fcomanda_layout(),
      [&](std::string_view text) { log::write_log_line(*files, *clock, text); }, &board);
  const auto keyed = platform::make_keyed_files(*files);
  platform::Platform services{*files, *clock, *commands, *printing, *keyed};
  app::Application application(services, web_host, board);
  app::Session session(application);

#if defined(KAV_WITH_WIN32)
  if (ui == Ui::windows) return ui::win32::run_windowed(session.forms(), services.commands, app::kStartForm);
#elif defined(KAV_WITH_QT)
  if (ui == Ui::windows) {
    return ui::qt::run_windowed(session.forms(), services.commands, app::kStartForm, argc, argv);
  }
#endif
  (void)argc;
  (void)argv;
  return ui::headless::run_console(session.forms(), services.commands, app::kStartForm);
}
