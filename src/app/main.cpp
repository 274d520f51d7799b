// KavComanda: starts the form runtime with the application's forms and shows
// the start form; the program ends when that form closes.
//
// No command line and no configuration file: the platform layer reads
// KAVCOMANDA_ROOT, KAVCOMANDA_UI and KAVCOMANDA_WEB_HOST.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
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
#include "record/cp1252.h"
#include "ui/headless/console_pacer.h"
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

// Exit statuses of a monitor that does not start.
constexpr int kExitBadSetting = 2;          // KAVCOMANDA_WEB_HOST or KAVCOMANDA_UI
constexpr int kExitAlreadyRunning = 3;      // another monitor holds the root's lock, or it cannot be had
constexpr int kExitNoWorkFolder = 4;        // the root's work folder is missing
constexpr int kExitWorkFolderReadOnly = 5;  // it takes no files

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
    std::fprintf(stderr, "kavcomanda: KAVCOMANDA_UI deve ser \"qt\" ou \"console\", não \"%s\"\n", ui);
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

// A problem that keeps the monitor from starting, said where the operator
// looks: a box in window mode, a line on the error output in console mode.
// Each has its own exit status (see the README).
struct Refusal {
  int status;
  std::string text;  // Windows-1252
};

int refuse(Ui ui, const Refusal& refusal, int& argc, char** argv) {
#if defined(KAV_WITH_WIN32)
  if (ui == Ui::windows) return ui::win32::show_refusal("Monitor Comandas", refusal.text, refusal.status);
#elif defined(KAV_WITH_QT)
  if (ui == Ui::windows) return ui::qt::show_refusal("Monitor Comandas", refusal.text, refusal.status, argc, argv);
#endif
  (void)ui;
  (void)argc;
  (void)argv;
  ui::headless::write_error_line("kavcomanda: " + record::to_utf8(refusal.text));
  return refusal.status;
}

// The work folder must be there and take files, or every check would fail
// to write its batch file.
// (Checked in two steps: whether it is there before the one-monitor lock,
// which lies in it, and whether it takes files once the lock is held, so
// that a refused second monitor writes nothing.)
const std::string kWhatToDo = " Verifique a pasta (KAVCOMANDA_ROOT) e inicie o monitor de novo.";

std::optional<Refusal> check_work_folder_exists(platform::FileSystem& files) {
  if (files.exists(platform::kCommandWorkFolder)) return std::nullopt;
  return Refusal{kExitNoWorkFolder, "A pasta de trabalho " + files.host_path(platform::kCommandWorkFolder) +
                                        " n\xE3o existe." + kWhatToDo};
}

std::optional<Refusal> check_work_folder_writable(platform::FileSystem& files) {
  const std::string probe = std::string(platform::kCommandWorkFolder) + "\\KAVTESTE.TMP";
  std::unique_ptr<platform::File> file;
  bool written = files.open(probe, platform::OpenMode::output, file).ok();
  if (written) written = file->write("KavComanda") && file->close();
  file.reset();
  files.remove(probe);
  if (!written) {
    return Refusal{kExitWorkFolderReadOnly, "A pasta de trabalho " + files.host_path(platform::kCommandWorkFolder) +
                                                " n\xE3o aceita grava\xE7\xE3o." + kWhatToDo};
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Ui ui = ui_from_environment();
  if (ui == Ui::refused) return kExitBadSetting;
#ifdef KAV_WITH_QT
  if (ui == Ui::windows && !ui::qt::display_available()) {
    ui::headless::write_error_line("kavcomanda: nenhuma tela pôde ser aberta; seguindo em modo console");
    ui = Ui::console;
  }
#elif !defined(KAV_WITH_WIN32)
  if (ui == Ui::windows) {
    ui::headless::write_error_line("kavcomanda: programa sem janelas; seguindo em modo console");
    ui = Ui::console;
  }
#endif
  const std::string web_host = platform::web_host_from_environment();
  if (platform::check_web_host(web_host)) {
    return refuse(ui,
                  {kExitBadSetting, "Endere\xE7o do servidor inv\xE1lido em KAVCOMANDA_WEB_HOST: \"" + web_host +
                                        "\". Corrija a vari\xE1vel (por exemplo 127.0.0.1 ou localhost:8080) e "
                                        "inicie o monitor de novo."},
                  argc, argv);
  }

  const auto files = platform::make_os_file_system(platform::default_root());
  if (const auto refusal = check_work_folder_exists(*files)) return refuse(ui, *refusal, argc, argv);
  std::unique_ptr<platform::InstanceLock> instance_lock;  // one monitor per root, for the program's life
  std::string lock_cause;
  const platform::LockOutcome locked = platform::take_instance_lock(*files, instance_lock, &lock_cause);
  if (locked == platform::LockOutcome::unavailable) {
    // A lock that cannot be opened (another user's, without rights for this
    // one) or taken may hide a running monitor: never start beside it. A work
    // folder that takes no files at all is said as such, its own cause.
    if (const auto refusal = check_work_folder_writable(*files)) return refuse(ui, *refusal, argc, argv);
    return refuse(ui,
                  {kExitAlreadyRunning, "N\xE3o foi poss\xEDvel abrir ou travar o arquivo de controle " +
                                            files->host_path(platform::kInstanceLockPath) + " (" +
                                            lock_cause +
                                            "); o monitor n\xE3o foi iniciado. Verifique se outro usu\xE1rio "
                                            "j\xE1 usa o monitor nesta pasta e as permiss\xF5" "es da pasta."},
                  argc, argv);
  }
  if (locked == platform::LockOutcome::held) {
    if (ui == Ui::windows) {
      return refuse(ui, {kExitAlreadyRunning, "O Monitor Comandas j\xE1 est\xE1 em execu\xE7\xE3o nesta pasta !!!"},
                    argc, argv);
    }
    return refuse(ui,
                  {kExitAlreadyRunning, "outro Monitor Comandas j\xE1 est\xE1 em execu\xE7\xE3o nesta pasta (" +
                                            files->host_path(platform::kInstanceLockPath) +
                                            "); este n\xE3o foi iniciado. Use o monitor que j\xE1 est\xE1 aberto."},
                  argc, argv);
  }
  if (const auto refusal = check_work_folder_writable(*files)) return refuse(ui, *refusal, argc, argv);
  const auto clock = platform::make_system_clock();
  // A monitor killed in the middle of an exchange leaves GNU Wget to finish
  // the answer: it is taken as work once Wget has ended (or been ended).
  if (!platform::wait_for_earlier_programs(*files, kEarlierProgramsWait)) {
    const std::string text = "Programa iniciado pelo monitor anterior ainda em execu\xE7\xE3o; prosseguindo";
    ui::headless::write_error_line("kavcomanda: " + record::to_utf8(text));
    log::write_log_line(*files, *clock, text);
  }
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
