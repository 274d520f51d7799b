#include "answer/answer_check.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "form/form.h"
#include "board/alerts.h"
#include "log/l_link.h"
#include "log/log_form.h"
#include "orders/comandas_form.h"
#include "orders/exchange.h"
#include "orders/fcomanda.h"
#include "orders/print_form.h"
#include "platform/clock.h"
#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "ui/headless/headless_runtime.h"

namespace kav::answer {

namespace {

constexpr std::string_view kCommands[] = {"CMD_IMP", "CAN_ITE", "CMD_FEC"};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The command interpreter and Wget: the delete removes the answer, the batch
// leaves `answer` once for `command` and the end marker for every other
// request.
class ServeOnce final : public platform::CommandRunner {
 public:
  ServeOnce(platform::MemoryFileSystem& files, std::string_view command, std::string_view answer)
      : files_(files), command_(command), answer_(answer) {}

  platform::Status run(std::string_view line, int) override {
    const std::string text(record::trim_right(line));
    if (text == orders::kDeleteAnswer) {
      files_.remove(orders::kRespostaPath).ignore();  // DEL /Q says nothing of a missing file
      return platform::Status();
    }
    if (text != orders::kRunBatch) return platform::Status::exited(1);
    const std::string batch = files_.contents(orders::kArqbatPath);
    const auto at = batch.find("?COMANDO=");
    const std::string command = at == std::string::npos ? std::string() : batch.substr(at + 9, 7);
    if (command == command_ && !served_) {
      served_ = true;
      files_.put(orders::kRespostaPath, answer_);
    } else {
      files_.put(orders::kRespostaPath, "<0000>\r\n");
    }
    return platform::Status();
  }

 private:
  platform::MemoryFileSystem& files_;
  std::string command_;
  std::string answer_;
  bool served_ = false;
};

// The print service, laying each ticket out with FCOMANDA and keeping it.
class Tickets final : public platform::PrintService {
 public:
  Tickets(platform::MemoryFileSystem& files, platform::Clock& clock) : files_(files), clock_(clock) {}

  std::string new_work_id() override { return stamps_.next(platform::stamp_now(clock_)); }
  void begin_work(std::string_view work_id) override { stamps_.note(work_id); }

  platform::Status open(std::string_view form, std::string_view info_path) override {
    if (!orders::is_fcomanda(form)) return platform::Status::kBadFile;
    open_ = true;
    Ticket t;
    const std::string info = files_.contents(info_path);
    const auto at = info.find("PRTDRV");
    if (at != std::string::npos) {
      const auto q1 = info.find('"', at);
      const auto q2 = q1 == std::string::npos ? q1 : info.find('"', q1 + 1);
      if (q2 != std::string::npos) t.printer = info.substr(q1 + 1, q2 - q1 - 1);
    }
    tickets.push_back(std::move(t));
    return platform::Status::kOk;
  }
  platform::Status write(std::string_view group, std::string_view print_record) override {
    if (!open_) return platform::Status::kWriteNotOpen;
    auto lines = orders::fcomanda_layout().lines(group, print_record, {});
    if (!lines) return platform::Status::kNoRecord;
    for (auto& l : *lines) tickets.back().lines.push_back(std::move(l));
    return platform::Status::kOk;
  }
  platform::Status close() override {
    if (!open_) return platform::Status::kNotOpen;
    open_ = false;
    return platform::Status::kOk;
  }

  std::vector<Ticket> tickets;

 private:
  platform::MemoryFileSystem& files_;
  platform::Clock& clock_;
  platform::StampSequence stamps_;
  bool open_ = false;
};

class NoKeyedFiles final : public platform::KeyedFiles {
 public:
  std::unique_ptr<platform::KeyedFile> file(std::string_view, std::size_t, std::size_t) override { return nullptr; }
};

}  // namespace

Verdict check(std::string_view command, std::string_view answer) {
  Verdict v;
  v.command = command;
  platform::MemoryFileSystem files;
  platform::ManualClock clock(2020, 1, 1, 12, 0, 0);
  ServeOnce web(files, command, answer);
  Tickets printing(files, clock);
  NoKeyedFiles keyed;
  platform::Platform services{files, clock, web, printing, keyed};

  log::LLink link;
  log::Alerts alerts;
  log::CheckReport report;
  orders::ComandasForm comandas(link, services, "localhost", alerts, report);
  log::LogForm log_form(link, files, clock);
  form::FormSet forms;
  forms.add(comandas);
  forms.add(log_form);
  ui::headless::VirtualPacer pacer(clock);
  ui::headless::HeadlessRuntime runtime(forms, web, pacer);
  runtime.on_error = [](std::string_view) {};
  runtime.run("90-COMANDAS");

  const std::string log = files.contents(log::log_file_name("20200101"));
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    std::string_view line = std::string_view(log).substr(at, end - at);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.size() > 14) v.monitor.emplace_back(record::trim_right(line.substr(14)));
    at = end + 1;
  }
  for (const auto& a : alerts.current()) v.alerts.push_back(a.text);
  v.tickets = std::move(printing.tickets);
  for (const auto& name : files.list(orders::kTempFolder, false)) {
    if (upper(name).starts_with("KAVFALHA-")) v.refused = true;
  }
  // The page developer's checklist.
  auto said = [&](std::string_view text) {
    return std::any_of(v.monitor.begin(), v.monitor.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  if (said(record::cp1252("é marcador de fim, mas há registros"))) {
    v.warnings.push_back(record::cp1252("número de comanda 0000 ou 9999, ou código de item 000000/999999, é marcador "
                                        "de fim: a resposta fica retida; use outro número"));
  }
  if (said(record::cp1252("'>' dentro do texto"))) {
    v.warnings.push_back(record::cp1252("'>' dentro de um texto fecha o campo: a resposta fica retida; retire-o do "
                                        "texto"));
  }
  for (const auto& t : v.tickets) {
    if (std::any_of(t.lines.begin(), t.lines.end(), [](const std::string& l) { return l.find('<') != std::string::npos; })) {
      v.warnings.push_back(record::cp1252("'<' dentro de um texto é impresso como está, mas evite-o: '>' recusaria a "
                                          "resposta"));
      break;
    }
  }
  if (said("Texto ignorado em")) {
    v.warnings.push_back(record::cp1252("a página escreveu texto fora dos registros (avisos do PHP?): "
                                        "display_errors = Off na produção"));
  }
  // The encoding, as the reader decided it.
  platform::TextFile file(files);
  files.put("C:\\ANSWER", std::string(answer));
  if (file.open("C:\\ANSWER", platform::OpenMode::input).ok()) {
    orders::AnswerReader r(file);
    r.next_char();
    v.utf8 = r.utf8();
  }
  return v;
}

std::optional<std::string> command_of(std::string_view file_name, std::string_view batch, std::string_view answer,
                                      bool& guessed) {
  guessed = false;
  const std::string name = upper(file_name);
  for (const auto c : kCommands) {
    if (name.find(c) != std::string::npos) return std::string(c);
  }
  const auto at = batch.find("COMANDO=");
  if (at != std::string_view::npos) {
    const std::string c = upper(batch.substr(at + 8, 7));
    if (std::find(std::begin(kCommands), std::end(kCommands), c) != std::end(kCommands)) return c;
  }
  // The first record: "<" and up to 4 digits; a second field of 4 or fewer
  // characters is a cancellation's item number, 6 an order's code; an order
  // header of 7 fields on its line is a bill's.
  guessed = true;
  for (std::size_t lt = answer.find('<'); lt != std::string_view::npos; lt = answer.find('<', lt + 1)) {
    const std::size_t gt = answer.find('>', lt);
    if (gt == std::string_view::npos) break;
    const std::string_view first = answer.substr(lt + 1, gt - lt - 1);
    if (first.empty() || first.size() > 4 || first.find_first_not_of("0123456789 ") != std::string_view::npos ||
        gt + 1 >= answer.size() || answer[gt + 1] != '<') {
      continue;
    }
    const std::size_t gt2 = answer.find('>', gt + 1);
    if (gt2 == std::string_view::npos) break;
    if (gt2 - gt - 2 <= 4) return std::string("CAN_ITE");
    const std::size_t eol = answer.find('\n', lt);
    const std::string_view line = answer.substr(lt, eol == std::string_view::npos ? answer.size() - lt : eol - lt);
    return std::string(std::count(line.begin(), line.end(), '<') >= 7 ? "CMD_FEC" : "CMD_IMP");
  }
  return std::nullopt;
}

std::string report(std::string_view file, const Verdict& v) {
  std::string out = std::string(file) + ": " + v.command +
                    (v.utf8 ? record::cp1252(", lida como UTF-8 (convertida para Windows-1252)") : std::string()) +
                    "\n";
  for (const auto& line : v.monitor) out += "  monitor: " + line + "\n";
  for (const auto& t : v.tickets) {
    out += "  ticket para \"" + t.printer + "\":\n";
    for (const auto& l : t.lines) out += "    | " + l + "\n";
  }
  for (const auto& a : v.alerts) out += "  alerta: " + a + "\n";
  for (const auto& w : v.warnings) out += "  aviso: " + w + "\n";
  if (v.refused) {
    out += record::cp1252("  RECUSADA: nada dela seria impresso; o monitor a guardaria em Temp\\KAVFALHA-...RET e "
                          "alertaria (motivo nas linhas acima)\n");
  } else if (v.tickets.empty()) {
    out += record::cp1252("  resultado: nada a imprimir\n");
  } else {
    out += "  resultado: " + std::to_string(v.tickets.size()) +
           (v.tickets.size() == 1 ? " ticket impresso\n" : " tickets impressos\n");
  }
  return out;
}

}  // namespace kav::answer
