#include "app/start_checks.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "log/log_form.h"
#include "platform/command_runner.h"
#include "app/web_host.h"
#include "record/cp1252.h"
#include "ui/headless/console_pacer.h"
#ifdef KAV_WITH_QT
#include "ui/qt/display.h"
#include "ui/qt/qt_runtime.h"
#endif
#ifdef KAV_WITH_WIN32
#include "ui/win32/win32_runtime.h"
#endif

namespace kav::app {

namespace {

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

// The work folder must be there and take files, or every check would fail
// to write its batch file.
// (Checked in two steps: whether it is there before the one-monitor lock,
// which lies in it, and whether it takes files once the lock is held, so
// that a refused second monitor writes nothing.)
const std::string kWhatToDo = " Verifique a pasta (KAVCOMANDA_ROOT) e inicie o monitor de novo.";

std::optional<Refusal> check_work_folder_exists(platform::FileSystem& files) {
  if (files.exists(platform::kCommandWorkFolder)) return std::nullopt;
  return Refusal{kExitNoWorkFolder, "A pasta de trabalho " + files.host_path(platform::kCommandWorkFolder) +
                                        record::cp1252(" não existe.") + kWhatToDo};
}

std::optional<Refusal> check_work_folder_writable(platform::FileSystem& files) {
  const std::string probe = std::string(platform::kCommandWorkFolder) + "\\KAVTESTE.TMP";
  std::unique_ptr<platform::File> file;
  bool written = files.open(probe, platform::OpenMode::output, file).ok();
  if (written) written = file->write("KavComanda").ok() && file->close().ok();
  file.reset();
  files.remove(probe).ignore();  // a probe left behind is harmless
  if (!written) {
    return Refusal{kExitWorkFolderReadOnly, "A pasta de trabalho " + files.host_path(platform::kCommandWorkFolder) +
                                                record::cp1252(" não aceita gravação.") + kWhatToDo};
  }
  return std::nullopt;
}

}  // namespace

Ui choose_ui() {
  Ui ui = ui_from_environment();
  if (ui == Ui::refused) return ui;
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
  return ui;
}

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

std::optional<Refusal> check_web_host(const std::string& web_host) {
  if (!platform::check_web_host(web_host).ok()) {
    return Refusal{kExitBadSetting,
                   record::cp1252("Endereço do servidor inválido em KAVCOMANDA_WEB_HOST: \"") + web_host +
                       record::cp1252("\". Corrija a variável (por exemplo 127.0.0.1 ou localhost:8080) e "
                                      "inicie o monitor de novo.")};
  }
  return std::nullopt;
}

std::optional<Refusal> check_work_folder_and_lock(Ui ui, platform::FileSystem& files,
                                                  std::unique_ptr<platform::InstanceLock>& instance_lock) {
  if (auto refusal = check_work_folder_exists(files)) return refusal;
  std::string lock_cause;
  const platform::LockOutcome locked = platform::take_instance_lock(files, instance_lock, &lock_cause);
  if (locked == platform::LockOutcome::unavailable) {
    // A lock that cannot be opened (another user's, without rights for this
    // one) or taken may hide a running monitor: never start beside it. A work
    // folder that takes no files at all is said as such, its own cause.
    if (auto refusal = check_work_folder_writable(files)) return refusal;
    return Refusal{kExitAlreadyRunning, record::cp1252("Não foi possível abrir ou travar o arquivo de controle ") +
                                            files.host_path(platform::kInstanceLockPath) + " (" + lock_cause +
                                            record::cp1252("); o monitor não foi iniciado. Verifique se outro usuário "
                                                           "já usa o monitor nesta pasta e as permissões da pasta.")};
  }
  if (locked == platform::LockOutcome::held) {
    if (ui == Ui::windows) {
      return Refusal{kExitAlreadyRunning, record::cp1252("O Monitor Comandas já está em execução nesta pasta !!!")};
    }
    return Refusal{kExitAlreadyRunning,
                   record::cp1252("outro Monitor Comandas já está em execução nesta pasta (") +
                       files.host_path(platform::kInstanceLockPath) +
                       record::cp1252("); este não foi iniciado. Use o monitor que já está aberto.")};
  }
  return check_work_folder_writable(files);
}

// A monitor killed in the middle of an exchange leaves GNU Wget to finish
// the answer: it is taken as work once Wget has ended (or been ended).
void wait_for_earlier_programs(platform::FileSystem& files, platform::Clock& clock) {
  if (platform::wait_for_earlier_programs(files, kEarlierProgramsWait)) return;
  const std::string text = record::cp1252("Programa iniciado pelo monitor anterior ainda em execução; prosseguindo");
  ui::headless::write_error_line("kavcomanda: " + record::to_utf8(text));
  log::write_log_line(files, clock, text);
}

}  // namespace kav::app
