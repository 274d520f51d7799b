// KavComanda: starts the form runtime with the application's forms and shows
// the start form; the program ends when that form closes.
//
// No command line and no configuration file: the platform layer reads
// KAVCOMANDA_ROOT, KAVCOMANDA_UI and KAVCOMANDA_WEB_HOST.
#include <memory>
#include <string>

#include "app/application.h"
#include "app/monitoring.h"
#include "app/session.h"
#include "app/start_checks.h"
#include "app/web_host.h"
#include "board/alerts.h"
#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "platform/instance_lock.h"
#include "platform/library_search.h"
#include "platform/platform.h"
#include "platform/system_log.h"
#include "printing/spooling_print_service.h"
#include "ui/headless/headless_runtime.h"
#ifdef KAV_WITH_QT
#include "ui/qt/qt_runtime.h"
#endif
#ifdef KAV_WITH_WIN32
#include "ui/win32/win32_runtime.h"
#endif

using namespace kav;

int main(int argc, char** argv) {
  // Before anything loads a library on demand (the UI, the spooler's drivers).
  [[maybe_unused]] const bool restricted = platform::restrict_library_search();
  const app::Ui ui = app::choose_ui();
  if (ui == app::Ui::refused) return app::kExitBadSetting;
  const std::string web_host = platform::web_host_from_environment();
  if (const auto refusal = app::check_web_host(web_host)) return app::refuse(ui, *refusal, argc, argv);
  const auto files = platform::make_os_file_system(platform::default_root());
  std::unique_ptr<platform::InstanceLock> instance_lock;  // one monitor per root, for the program's life
  if (const auto refusal = app::check_work_folder_and_lock(ui, *files, instance_lock)) {
    return app::refuse(ui, *refusal, argc, argv);
  }
  const auto clock = platform::make_system_clock();
  app::wait_for_earlier_programs(*files, *clock);
  const auto commands = platform::make_command_runner(*files);
  // The last lines (the print service's on its way out) reach the disk
  // after everything below has ended.
  struct LogSyncedAtExit {
    platform::FileSystem& files;
    ~LogSyncedAtExit() { log::sync_log(files); }
  } log_synced_at_exit{*files};
  // The alert board and the check report stand before the print service
  // that raises alerts and reports on them, and outlive it. An alert that
  // begins, changes or ends is synced at once.
  log::Alerts board([&](std::string_view text) {
    log::write_log_line(*files, *clock, text);
    log::sync_log(*files);
  });
  log::CheckReport check_report;
  const auto printing = kav::printing::make_print_service(
      *files, *clock, orders::fcomanda_layout(), app::Application::print_report(*files, *clock, check_report),
      &board);
  const auto keyed = platform::make_keyed_files(*files);
  platform::Platform services{*files, *clock, *commands, *printing, *keyed};
  app::Application application(services, web_host, board, check_report, *printing);
  app::Session session(application);

  // Events in the system's log, the metrics file, the day's summary.
  const auto system_log = platform::make_system_log();
  app::Monitoring monitoring(*files, *clock, board, system_log.get(),
                             {{}, {}, [&printing] {
                                std::map<std::string, int> waiting;
                                for (const auto& t : printing->waiting()) ++waiting[t.printer];
                                return waiting;
                              }});
  monitoring.started();
  monitoring.set_metrics_folder(app::metrics_folder_of_settings(*files, board));
  printing->watch_deliveries(
      [&monitoring](const kav::printing::Delivered& d) { monitoring.delivered(d.printer, d.order, d.seconds); });
  application.watch_runs({[&monitoring](bool reached) { monitoring.exchange(reached); },
                          [&monitoring] { monitoring.after_check(); }});
  session.on_end([&monitoring] { monitoring.ended(); });
  struct DeliveriesUnwatched {  // the print service outlives the monitoring
    kav::printing::SpoolingPrintService& printing;
    ~DeliveriesUnwatched() { printing.watch_deliveries({}); }
  } deliveries_unwatched{*printing};

#if defined(KAV_WITH_WIN32)
  if (ui == app::Ui::windows) return ui::win32::run_windowed(session.forms(), services.commands, app::kStartForm);
#elif defined(KAV_WITH_QT)
  if (ui == app::Ui::windows) {
    return ui::qt::run_windowed(session.forms(), services.commands, app::kStartForm, argc, argv);
  }
#endif
  (void)argc;
  (void)argv;
  return ui::headless::run_console(session.forms(), services.commands, app::kStartForm);
}
