#include "spool/kept_commands.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board/alerts.h"
#include "board/check_report.h"
#include "common/tool_files.h"
#include "form/form_names.h"
#include "log/l_link.h"
#include "log/log_form.h"
#include "orders/comandas_form.h"
#include "orders/exchange.h"
#include "orders/fcomanda.h"
#include "orders/kept_answers.h"
#include "platform/answer_bound.h"
#include "platform/command_runner.h"
#include "platform/instance_lock.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "ui/headless/headless_runtime.h"

namespace kav::spool_tool {

namespace {

// A kept answer is what arrived, up to one byte past an answer's bound.
constexpr std::uint64_t kKeptLimit = platform::kMaxAnswerBytes + 1;

std::string in_temp(std::string_view name) { return std::string(orders::kTempFolder) + "\\" + std::string(name); }

// Why the kept answer `name` is not read; empty when it may be.
std::string refusal(platform::FileSystem& files, std::string_view name) {
  const tools::FileCheck c = tools::check_file(files.host_path(in_temp(name)), kKeptLimit, false);
  return tools::refusal_text(c, kKeptLimit, "o limite de uma resposta");
}

// Number N of the list, or nothing (said).
std::optional<std::string> chosen(platform::FileSystem& files, std::string_view number, const Voice& voice) {
  const auto names = orders::kept_answer_names(files);
  const bool digits = !number.empty() && number.size() < 6 && number.find_first_not_of("0123456789") == std::string::npos;
  const std::size_t n = digits ? std::stoul(std::string(number)) : 0;
  if (n == 0 || n > names.size()) {
    voice.error(record::cp1252("nenhuma resposta retida número ") + std::string(number) + "; veja \"kav-spool retidas\"");
    return std::nullopt;
  }
  return names[n - 1];
}

// The monitor settles kept answers itself while it runs; a lock that does
// not open may hide a running monitor just as well.
bool monitor_runs(platform::FileSystem& files, std::unique_ptr<platform::InstanceLock>& lock, std::string_view what,
                  const Voice& voice) {
  if (platform::take_instance_lock(files, lock, nullptr) == platform::LockOutcome::taken) return false;
  voice.error(record::cp1252("o monitor está em execução nesta pasta (ou a trava não abriu): ") + std::string(what) +
              record::cp1252(" em Reimprimir, \"Respostas retidas\""));
  return true;
}

class NoCommands final : public platform::CommandRunner {
 public:
  platform::Status run(std::string_view, int) override { return platform::Status::kRefused; }
};

}  // namespace

int list_kept(platform::FileSystem& files, const Voice& voice) {
  const auto names = orders::kept_answer_names(files);
  if (names.empty()) voice.say("nenhuma resposta retida");
  int rc = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (const std::string why = refusal(files, names[i]); !why.empty()) {
      voice.say(std::to_string(i + 1) + "  Temp\\" + names[i] + ": " + why);
      rc = tools::kExitRefused;
      continue;
    }
    const orders::KeptAnswer k = orders::examine_kept(files, names[i]);
    voice.say(std::to_string(i + 1) + "  " + orders::stamp_moment(k.stamp) + "  " +
              (k.command ? std::string(k.command->name) : std::string("?")) + "  Comanda " +
              (k.numero.empty() ? std::string("-") : k.numero) + "  " + (k.why.empty() ? "incompleta" : k.why) +
              "  Temp\\" + k.name);
  }
  return rc;
}

int discard_kept(platform::FileSystem& files, platform::Clock& clock, std::string_view number, const Voice& voice) {
  const auto name = chosen(files, number, voice);
  if (!name) return 1;
  std::unique_ptr<platform::InstanceLock> lock;
  if (monitor_runs(files, lock, "descarte-a", voice)) return 1;
  // Its order number for the log, when it may be read.
  const std::string numero = refusal(files, *name).empty() ? orders::examine_kept(files, *name).numero : std::string();
  if (!files.remove(in_temp(*name)).ok()) {
    voice.error(record::cp1252("não foi possível remover ") + files.host_path(in_temp(*name)));
    return 1;
  }
  files.sync_directory(orders::kTempFolder).ignore();  // gone; durable with the folder's next sync
  log::write_log_line(files, clock,
                      "Retida descartada pelo operador (kav-spool): Comanda " +
                          (numero.empty() ? std::string("-") : numero) + ", Temp\\" + *name);
  voice.say("Temp\\" + *name + " descartada");
  return 0;
}

// The order form, run once in settling mode on this machine's files and
// print service: its tickets are kept in the spool and handed to the
// printers as the monitor's are; its rows are said to the operator.
int print_kept(platform::FileSystem& files, platform::Clock& clock, std::string_view number, const Voice& voice) {
  const auto name = chosen(files, number, voice);
  if (!name) return 1;
  if (const std::string why = refusal(files, *name); !why.empty()) {
    voice.error("Temp\\" + *name + ": " + why);
    return tools::kExitRefused;
  }
  std::unique_ptr<platform::InstanceLock> lock;
  if (monitor_runs(files, lock, "imprima-a", voice)) return 1;

  log::Alerts board([&](std::string_view text) { log::write_log_line(files, clock, text); });
  log::CheckReport report;
  const auto printing = printing::make_print_service(
      files, clock, orders::fcomanda_layout(),
      [&](std::string_view text) {
        log::write_log_line(files, clock, text);
        if (text.ends_with(" !!!")) voice.error(text);
      },
      &board);
  NoCommands commands;
  const auto keyed = platform::make_keyed_files(files);
  platform::Platform services{files, clock, commands, *printing, *keyed};
  log::LLink link;
  orders::ComandasForm comandas(link, services, "localhost", board, report);
  comandas.settle_only();
  comandas.settle(*name, orders::ComandasForm::Settle::print);
  log::LogForm log_form(link, files, clock);
  form::FormSet forms;
  forms.add(comandas);
  forms.add(log_form);
  platform::ManualClock pace(2020, 1, 1, 0, 0, 0);
  ui::headless::VirtualPacer pacer(pace);
  ui::headless::HeadlessRuntime runtime(forms, commands, pacer);
  runtime.on_row_text = [&](std::string_view, std::string_view, std::string_view text) {
    voice.say(record::trim_right(text));
  };
  runtime.run(form::kComandasForm);
  printing->finish();  // handed to the spooler before the tool ends
  log::sync_log(files);
  return files.exists(in_temp(*name)) ? 1 : 0;
}

}  // namespace kav::spool_tool
