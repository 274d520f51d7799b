#include "orders/comandas_form.h"

#include <algorithm>
#include <cctype>

#include "erpfiles/paramet.h"
#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"
#include "form/form_names.h"
#include "log/log_from_form.h"
#include "orders/print_record.h"
#include "platform/command_runner.h"
#include "platform/file_status.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::orders {

namespace {
const std::string kCaption = record::cp1252("KAV - Importação Comandas");
// What a log line keeps of a message.
constexpr std::size_t kLogTextWidth = 106;
const std::string kBloqCaption = record::cp1252("Registro sendo acessado, Aguarde liberação !!!");
// The alerts this form raises.
constexpr std::string_view kWebAlert = "web";
constexpr std::string_view kDiskAlert = "disco";
constexpr std::string_view kAnswerAlert = "resposta";
constexpr std::string_view kFailedName = "KAVFALHA-";

std::string name_of(std::string_view path) { return std::string(path.substr(path.rfind('\\') + 1)); }
}  // namespace

ComandasForm::ComandasForm(log::LLink& link, platform::Platform& platform, std::string web_host,
                           log::Alerts& alerts)
    : link_(link),
      platform_(platform),
      alerts_(alerts),
      exchange_(platform.files, std::move(web_host)),
      impressao_(platform.files, platform.printing),
      paramet_(erpfiles::declare(platform.keyed, erpfiles::paramet::kFile)),
      vendedo_(erpfiles::declare(platform.keyed, erpfiles::vendedo::kFile)),
      produto_(erpfiles::declare(platform.keyed, erpfiles::produto::kFile)) {
  design_.name = form::kComandasForm;
  design_.caption = kCaption;
  design_.width = 538;
  design_.height = 300;
  // It runs at every check: no window over the monitor unless the check
  // keeps the operator waiting.
  design_.show_delay_ms = form::kBackgroundShowDelayMs;
  design_.takes_focus = false;
  form::ControlDesign timer{.name = "CmTimer1", .kind = form::ControlKind::timer};
  timer.enabled = true, timer.interval_ms = 1;

  form::ControlDesign list{.name = "Lv_Proc", .kind = form::ControlKind::list};
  list.x = 10, list.y = 10, list.width = 518, list.height = 218;
  list.font = {"Verdana", 9, true};
  list.columns = {{"Status", 500}};

  form::ControlDesign frame{.name = "Frm_Bloq", .kind = form::ControlKind::frame};
  frame.x = 10, frame.y = 234, frame.width = 380, frame.height = 50;
  frame.visible = false;

  form::ControlDesign bloq{.name = "CmStatic1", .kind = form::ControlKind::static_text};
  bloq.caption = kBloqCaption;
  bloq.x = 10, bloq.y = 20, bloq.width = 360, bloq.height = 20;
  bloq.parent = "Frm_Bloq";

  form::ControlDesign date{.name = "Ed_DTSIS", .kind = form::ControlKind::date_edit};
  date.x = 400, date.y = 250, date.width = 128, date.height = 24;
  date.visible = false;
  date.format = "dd/MM/yyyy";

  design_.controls = {timer, list, frame, bloq, date};
}

void ComandasForm::tick(form::FormContext& ctx, std::string_view timer) {
  if (timer != "CmTimer1") return;
  ctx.set_timer_enabled("CmTimer1", false);
  give_up_ = disk_failed_ = false;
  show_failed_answers();
  finish_pending(ctx);
  proc_imprime(ctx);
  proc_cancela(ctx);
  proc_fecha(ctx);
  if (!disk_failed_) alerts_.clear(kDiskAlert);
  ctx.end_form();
}

void ComandasForm::form_close(form::FormContext&) {
  for (auto* file : {&paramet_, &vendedo_, &produto_}) {
    if (*file) (*file)->close();
  }
}

bool ComandasForm::next_record(form::FormContext& ctx, std::string_view command) {
  switch (exchange_.perform(ctx, command, areas_)) {
    case Exchange::Outcome::disk_failed:
      disk_failure(
          ctx, "Falha ao " + exchange_.failed_step() + ": " + std::string(command) + record::cp1252(" não consultado"));
      return false;
    case Exchange::Outcome::web_failed:
      web_failure(ctx, command);
      return false;
    case Exchange::Outcome::no_answer:
      alerts_.clear(kWebAlert);
      return false;
    case Exchange::Outcome::answer:
      alerts_.clear(kWebAlert);
      break;
  }
  AnswerReader& r = exchange_.reader();
  if (r.skip_to_record(4)) {
    areas_.cmd.numero = r.fixed(4);
    if (!is_end_marker(areas_.cmd.numero)) {
      const std::string id = work_id();
      std::string path = pending_path(id, command);
      // The web application has handed this work out: printing it without
      // a durable copy could lose it, or print it twice after a crash. It
      // stays in GET_KAVCMD.RET, which is not deleted before it is kept.
      if (!exchange_.keep_as(path)) {
        exchange_.close();
        unkept_answer_ = true;
        disk_failure(ctx, unkept_message(command));
        return false;
      }
      r.skip_to_record(4);  // the first record again, from the kept copy
      areas_.cmd.numero = r.fixed(4);
      begin_pending(std::move(path), id);
      return true;
    }
  }
  exchange_.close();
  answer_complete(ctx, command);
  return false;
}

// The page's own output before the answer (a warning, an error page) is
// passed over and logged, once per answer, so that the web application's
// people hear of it. Output that ran into the answer after its first record
// had started means the page failed while writing this order: nothing of
// it is printed, and the row and the log say so. The order number in that
// message is the first field of a record whose shape the reader checked.
bool ComandasForm::answer_complete(form::FormContext& ctx, std::string_view command) {
  const AnswerReader& r = exchange_.reader();
  if (!r.has_odd_text()) return true;
  const std::string prefix = "Texto ignorado em " + std::string(command) + ": ";
  const std::string odd = shortened(r.leading_text(), r.inner_text(), kLogTextWidth - prefix.size());
  if (!odd.empty()) {  // an answer cut inside a record may have passed over nothing
    log::log_from_form(ctx, link_, prefix + odd);
  }
  if (!r.damaged()) return true;
  log_message(ctx, "Resposta " + std::string(command) + " incompleta, Comanda = " + areas_.cmd.numero.substr(0, 4) +
                       record::cp1252(" não impressa !!!"));
  return false;
}

// A web application that keeps handing out work (the same order again and
// again, or a queue that never empties) would hold the run in one command:
// the later commands never asked, the monitor never polling again. After
// kMaxAnswersPerCommand answers with work the command stops for this run,
// says so (row, log, alert) and the run goes on; what is left waits for the
// next check. The alert ends when a run of the command finds no more work.
void ComandasForm::run_command(form::FormContext& ctx, std::string_view command) {
  const std::string alert_key = "limite.respostas." + std::string(command);
  for (std::size_t handled = 0; !give_up_ && next_record(ctx, command);) {
    work_off(ctx, command);
    retire(ctx, command);
    if (++handled == kMaxAnswersPerCommand) {
      const std::string bound = std::to_string(kMaxAnswersPerCommand);
      log_message(ctx, "Limite de " + bound + " respostas " + std::string(command) +
                           record::cp1252(" por checagem atingido, o restante fica para a próxima !!!"));
      alerts_.raise(alert_key, std::string(command) + ": " + bound +
                                   record::cp1252(" respostas numa só checagem; verificar a aplicação web"));
      return;
    }
  }
  if (!give_up_) alerts_.clear(alert_key);
}

// An answer that is not complete is not printed at all, not even with a
// mark: the kitchen would take a ticket with some of an order's items for
// the order, and a bill missing an item has a wrong total. The web
// application has already handed the order out, so what the staff need is
// the order's number on the screen and in the log, and the answer as it
// arrived (kept aside), to enter it again.
void ComandasForm::work_off(form::FormContext& ctx, std::string_view command) {
  answer_failed_ = false;
  print_failure_.clear();
  if (command == "CMD_IMP") {
    read_imprime();
  } else if (command == "CAN_ITE") {
    read_cancela();
  } else {
    read_fecha();
  }
  exchange_.close();
  if (!answer_complete(ctx, command)) {
    answer_failed_ = true;
    return;
  }
  if (command == "CMD_IMP") {
    imprime_itens(ctx);
  } else if (command == "CAN_ITE") {
    imprime_cancelamento(ctx);
  } else {
    imprime_conta(ctx);
  }
}

std::string ComandasForm::pending_path(std::string_view stamp, std::string_view command) {
  return std::string(kPendingPrefix) + std::string(stamp) + "-" + std::string(command) + ".RET";
}

std::optional<ComandasForm::PendingName> ComandasForm::parse_pending_name(std::string_view name) {
  // KAVPEND-YYYYMMDD-HHMMSScc-CMD_IMP.RET
  constexpr std::string_view kPrefix = "KAVPEND-";
  if (name.size() != kPrefix.size() + 17 + 1 + 7 + 4 || !name.starts_with(kPrefix)) return std::nullopt;
  std::string tail(name.substr(name.size() - 4));
  for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (tail != ".RET") return std::nullopt;
  PendingName p{std::string(name.substr(kPrefix.size(), 17)), std::string(name.substr(kPrefix.size() + 18, 7))};
  for (char& c : p.command) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!platform::stamp_centis(p.stamp)) return std::nullopt;
  if (p.command != "CMD_IMP" && p.command != "CAN_ITE" && p.command != "CMD_FEC") return std::nullopt;
  return p;
}

std::string ComandasForm::work_id() {
  std::string id = platform_.printing.new_work_id();
  if (id.empty()) id = platform::stamp_now(platform_.clock);
  if (id <= last_id_) id = platform::next_stamp(last_id_);
  last_id_ = id;
  return id;
}

void ComandasForm::begin_pending(std::string path, std::string_view stamp) {
  pending_ = std::move(path);
  last_id_ = std::max(last_id_, std::string(stamp));
  platform_.printing.begin_work(stamp);
}

void ComandasForm::retire(form::FormContext& ctx, std::string_view command) {
  const bool kept = platform_.printing.end_work();
  std::string pending = std::move(pending_);
  pending_.clear();
  if (answer_failed_) {
    if (!pending.empty()) keep_failed_answer(ctx, pending, command, false);
    return;
  }
  if (kept && print_failure_.empty()) {
    if (!pending.empty()) platform_.files.remove(pending);
    return;
  }
  const std::string file = print_failure_.empty() ? std::string("no Spool") : print_failure_;
  disk_failure(ctx, "Falha ao gravar " + file + ", Comanda = " + areas_.cmd.numero.substr(0, 4) + " (" +
                        std::string(command) + ") fica pendente");
}

std::string ComandasForm::unkept_message(std::string_view command) const {
  return "Falha ao guardar a resposta " + std::string(command) + ", Comanda = " + areas_.cmd.numero.substr(0, 4) +
         record::cp1252(" aguarda espaço em disco");
}

void ComandasForm::disk_failure(form::FormContext& ctx, const std::string& text) {
  give_up_ = disk_failed_ = true;
  alerts_.raise(kDiskAlert, text);
  log_message(ctx, text + " !!!");  // the row in any case, the log when it can still be written
}

void ComandasForm::web_failure(form::FormContext& ctx, std::string_view command) {
  give_up_ = true;
  std::string answer;
  read_whole(platform_.files, kRespostaPath, answer);
  const std::size_t arrived = answer.size();
  const int status = exchange_.batch_status();
  const std::string text =
      "Falha na consulta " + std::string(command) + ": " + Exchange::failure_cause(status, arrived);
  if (status == 3) {  // Wget could not write the answer
    disk_failed_ = true;
    alerts_.raise(kDiskAlert, text);
  } else {
    alerts_.raise(kWebAlert, text);
  }
  log_message(ctx, text + " !!!");
  if (arrived > 0) keep_failed_answer(ctx, std::string(kRespostaPath), command, true);
}

void ComandasForm::keep_failed_answer(form::FormContext& ctx, const std::string& from, std::string_view command,
                                      bool name_order) {
  exchange_.close();
  std::string stamp = platform::stamp_now(platform_.clock);
  auto path_of = [&] { return std::string(kFailedPrefix) + stamp + "-" + std::string(command) + ".RET"; };
  for (int tries = 0; tries < 100 && platform_.files.exists(path_of()); ++tries) stamp = platform::next_stamp(stamp);
  const std::string to = path_of();
  if (!platform_.files.rename(from, to)) {
    // Never left where it would be read as an answer, or done over.
    platform_.files.remove(from);
    disk_failure(ctx, "Falha ao guardar a resposta " + std::string(command) + " incompleta; descartada");
    return;
  }
  platform_.files.sync_directory(kTempFolder);
  const std::string where = "Temp\\" + name_of(to);
  if (!name_order) {  // the row that names the order is already shown
    log::log_from_form(ctx, link_, "Resposta " + std::string(command) + " guardada em " + where);
  } else {
    const std::string numero = order_of(to);
    log_message(ctx, numero.empty() ? "Resposta " + std::string(command) + " guardada em " + where + " !!!"
                                    : "Comanda " + numero + record::cp1252(" não impressa (") + std::string(command) +
                                          " incompleta): " + where + " !!!");
  }
  show_failed_answers();
}

std::string ComandasForm::order_of(std::string_view path) {
  platform::TextFile file(platform_.files);
  if (file.open(path, platform::OpenMode::input) != platform::status::ok) return {};
  AnswerReader r(file);
  std::string numero;
  if (r.skip_to_record(4)) numero = r.fixed(4);
  file.close();
  return is_end_marker(numero) ? std::string() : numero;
}

void ComandasForm::show_failed_answers() {
  std::vector<std::string> kept;
  for (auto& name : platform_.files.list(kTempFolder, false)) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.starts_with(kFailedName) && upper.ends_with(".RET")) kept.push_back(std::move(name));
  }
  if (kept.empty()) {
    alerts_.clear(kAnswerAlert);
    return;
  }
  std::sort(kept.begin(), kept.end());
  const std::string& newest = kept.back();
  const auto named = parse_pending_name("KAVPEND-" + newest.substr(kFailedName.size()));
  const std::string command = named ? named->command : std::string("?");
  const std::string numero = order_of(std::string(kTempFolder) + "\\" + newest);
  const std::string order = numero.empty() ? "resposta " + command : "Comanda " + numero + " (" + command + ")";
  if (kept.size() == 1) {
    alerts_.raise(kAnswerAlert, (numero.empty() ? "Resposta " + command + " incompleta"
                                                : "Comanda " + numero + record::cp1252(" não impressa (") + command +
                                                      " incompleta)") +
                                    ": Temp\\" + newest);
  } else {
    alerts_.raise(kAnswerAlert, std::to_string(kept.size()) + record::cp1252(" respostas não impressas em ") +
                                    record::cp1252("Temp\\KAVFALHA-*.RET, a última: ") + order);
  }
}

// An answer that Wget left and the run before did not keep (it stopped in
// between, or the disk had no room for the copy): kept now, unless it is
// the newest pending answer itself (the run stopped after keeping it and
// before removing GET_KAVCMD.RET).
ComandasForm::Leftover ComandasForm::take_leftover_answer(const std::vector<std::string>& pending,
                                                          std::string& command) {
  std::string answer;
  if (!read_whole(platform_.files, kRespostaPath, answer)) return Leftover::none;
  std::string batch;
  read_whole(platform_.files, kArqbatPath, batch);
  const auto at = batch.find("COMANDO=");
  command = at == std::string::npos ? std::string() : batch.substr(at + 8, 7);
  if (command != "CMD_IMP" && command != "CAN_ITE" && command != "CMD_FEC") return Leftover::none;
  if (!pending.empty()) {
    std::string newest;
    if (read_whole(platform_.files, std::string(kTempFolder) + "\\" + pending.back(), newest) && newest == answer) {
      platform_.files.remove(kRespostaPath);
      return Leftover::none;
    }
  }
  if (leftover_cut_) return answer.empty() ? Leftover::none : Leftover::cut;
  if (!exchange_.reopen(kRespostaPath, areas_)) return Leftover::none;
  AnswerReader& r = exchange_.reader();
  const bool work = r.skip_to_record(4) && !is_end_marker(areas_.cmd.numero = r.fixed(4));
  exchange_.close();
  Leftover result = Leftover::none;
  if (work) result = exchange_.keep_as(pending_path(work_id(), command)) ? Leftover::kept : Leftover::not_kept;
  exchange_.close();
  return result;
}

void ComandasForm::finish_pending(form::FormContext& ctx) {
  auto list_pending = [&] {
    std::vector<std::string> names;
    for (auto& name : platform_.files.list(kTempFolder, false)) {
      if (parse_pending_name(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  std::vector<std::string> names = list_pending();
  if (!started_) {
    started_ = true;
    for (const auto& name : platform_.files.list(kTempFolder, false)) {  // copies cut short
      if (name.starts_with("KAVPEND-") && name.size() > 4 && name.ends_with(".tmp")) {
        platform_.files.remove(std::string(kTempFolder) + "\\" + name);
      }
    }
    std::vector<std::string> ids;
    for (const auto& name : names) ids.push_back(parse_pending_name(name)->stamp);
    platform_.printing.start(ids);
    for (const auto& id : ids) last_id_ = std::max(last_id_, id);
    unkept_answer_ = true;
    // The monitor before this one went in the middle of an exchange whose
    // Wget then had to be ended at its time limit: what it left is cut short.
    std::string cut;
    if (read_whole(platform_.files, platform::kProgramCutPath, cut)) {
      platform_.files.remove(platform::kProgramCutPath);
      const std::string_view named = record::trim_right(std::string_view(cut).substr(0, cut.find('\n')));
      leftover_cut_ = std::equal(named.begin(), named.end(), kArqbatPath.begin(), kArqbatPath.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
      });
    }
  }
  if (unkept_answer_) {
    std::string command;
    const Leftover leftover = take_leftover_answer(names, command);
    if (leftover == Leftover::not_kept) {
      disk_failure(ctx, unkept_message(command));
      return;
    }
    if (leftover == Leftover::cut) keep_failed_answer(ctx, std::string(kRespostaPath), command, true);
    leftover_cut_ = false;
    unkept_answer_ = false;
    names = list_pending();
  }
  platform_.printing.follow_up();

  for (const auto& name : names) {
    if (give_up_) break;
    const auto p = parse_pending_name(name);
    const std::string path = std::string(kTempFolder) + "\\" + name;
    log_message(ctx, "Retomando resposta pendente " + name + " ...");
    if (!exchange_.reopen(path, areas_)) continue;
    AnswerReader& r = exchange_.reader();
    if (r.skip_to_record(4)) areas_.cmd.numero = r.fixed(4);
    if (r.at_end() || is_end_marker(areas_.cmd.numero)) {
      exchange_.close();
      platform_.files.remove(path);
      continue;
    }
    begin_pending(path, p->stamp);
    work_off(ctx, p->command);
    retire(ctx, p->command);
  }
}

void ComandasForm::read_order_header(AnswerReader& r, AnswerHeader& cmd) {
  r.skip(2);
  cmd.codigo = r.fixed(6);
  r.skip(2);
  cmd.texto = r.text(40);
  r.skip(1);
  cmd.pessoas = r.fixed(2);
  r.skip(2);
  cmd.compl_ = r.text(20);
}

void ComandasForm::begin_ticket(bool order_texts, std::string_view printer_line) {
  if (!print_failure_.empty()) return;
  if (!impressao_.proc_cfgimp(areas_.impressora(areas_.w_ind))) {
    print_failure_ = "FORMPRT.PRT";
    return;
  }
  impressao_.open();
  record::Area& reg = impressao_.reg_impressao();
  reg.set(prt_numcmd, areas_.cmd.numero);
  if (order_texts) {
    reg.set(prt_texto, areas_.cmd.texto);
    impressao_.move_pessoas(areas_.cmd.pessoas);
    reg.set(prt_compl, areas_.cmd.compl_);
  } else {
    reg.set(prt_texto, "");
    reg.set(prt_pessoas, "");
    reg.set(prt_compl, "");
  }
  reg.set(prt_impressora, printer_line);
  impressao_.write(grupo::cabec);
  impressao_.write(grupo::cabcmd);
}

void ComandasForm::end_ticket() {
  if (!print_failure_.empty()) return;
  impressao_.write(grupo::traco);
  impressao_.write(grupo::orbela);
  if (impressao_.close() == platform::status::failed) print_failure_ = "no Spool";
}

void ComandasForm::write_item_lines(const Item& item) {
  record::Area& reg = impressao_.reg_impressao();
  reg.set(prt_descricao, item.descricao);
  impressao_.write(grupo::itecmd);
  if (!record::is_blank(item.obs)) {
    reg.set(prt_obs, item.obs);
    impressao_.write(grupo::obsite);
  }
}

int ComandasForm::log_message(form::FormContext& ctx, std::string_view text) {
  const int index = ctx.add_list_row("Lv_Proc", 1, 1);
  const form::ListRow row = ctx.get_list_row("Lv_Proc", index);
  log::log_from_form(ctx, link_, text, [&](std::string_view texto) { ctx.set_list_row_text(row, texto, 1); });
  return index;
}

}  // namespace kav::orders
