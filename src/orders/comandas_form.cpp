#include "orders/comandas_form.h"

#include <algorithm>
#include <cctype>

#include "board/events.h"
#include "erpfiles/paramet.h"
#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"
#include "form/form_names.h"
#include "log/log_from_form.h"
#include "orders/answer_layouts.h"
#include "orders/kept_answers.h"
#include "platform/answer_bound.h"
#include "platform/status.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::orders {

namespace {
const std::string kCaption = record::cp1252("KAV - Importação Comandas");
// What a log line keeps of a message.
constexpr std::size_t kLogTextWidth = 106;
const std::string kBloqCaption = record::cp1252("Registro sendo acessado, Aguarde liberação !!!");
// The alerts this form raises.
constexpr std::string_view kWebAlert = log::alert_key::web;
constexpr std::string_view kDiskAlert = log::alert_key::disk;
constexpr std::string_view kAnswerAlert = log::alert_key::answer_kept;
constexpr std::string_view kFailedName = "KAVFALHA-";
constexpr std::string_view kBlockedPrinterAlert = log::alert_key::printer_folder;

std::string name_of(std::string_view path) { return std::string(path.substr(path.rfind('\\') + 1)); }

log::CheckReport::Kind report_kind(const Command& command) {
  switch (command.kind) {
    case Command::Kind::print_items: return log::CheckReport::Kind::items;
    case Command::Kind::cancel_item: return log::CheckReport::Kind::cancellation;
    case Command::Kind::close_order: break;
  }
  return log::CheckReport::Kind::bill;
}
}  // namespace

ComandasForm::ComandasForm(log::LLink& link, platform::Platform& platform, std::string web_host,
                           log::Alerts& alerts, log::CheckReport& report)
    : link_(link),
      platform_(platform),
      alerts_(alerts),
      link_alerts_(alerts),
      report_(report),
      exchange_(platform.files, std::move(web_host)),
      kept_bound_(platform.files),
      journal_(platform.files, exchange_),
      tickets_(platform.files, platform.printing, areas_),
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
  give_up_ = disk_failed_ = work_left_ = false;
  if (settle_only_) {
    settle_only_run(ctx);
    ctx.end_form();
    return;
  }
  finish_pending(ctx);
  settle_kept(ctx);
  show_failed_answers();
  proc_imprime(ctx);
  proc_cancela(ctx);
  proc_fecha(ctx);
  if (!disk_failed_) alerts_.clear(kDiskAlert);
  if (!work_left_) seen_.clear();
  report_.set_work_left(work_left_ && !give_up_);
  link_alerts_.check();
  log_repeats(ctx);
  if (watch_.run_ended) watch_.run_ended();
  ctx.end_form();
}

void ComandasForm::form_close(form::FormContext&) {
  for (auto* file : {&paramet_, &vendedo_, &produto_}) {
    if (*file) (*file)->close().ignore();
  }
}

bool ComandasForm::next_record(form::FormContext& ctx, const Command& command) {
  const Exchange::Outcome outcome = exchange_.perform(ctx, command.name, areas_);
  if (watch_.exchange && outcome != Exchange::Outcome::disk_failed) {
    watch_.exchange(outcome != Exchange::Outcome::web_failed);
  }
  switch (outcome) {
    case Exchange::Outcome::disk_failed:
      disk_failure(ctx, "Falha ao " + exchange_.failed_step() + ": " + std::string(command.name) +
                            record::cp1252(" não consultado"));
      return false;
    case Exchange::Outcome::web_failed:
      web_failure(ctx, command);
      return false;
    case Exchange::Outcome::too_large: {
      // Only this command's page: the others are separate requests.
      const std::string text = "Resposta " + std::string(command.name) + " maior que " +
                               std::to_string(platform::kMaxAnswerBytes) +
                               record::cp1252(" bytes: Wget parado, resposta descartada");
      alerts_.raise(command.page_alert(), text);
      log_failure(ctx, text + " !!!");
      return false;
    }
    case Exchange::Outcome::no_answer:
      alerts_.clear(kWebAlert);
      alerts_.clear(command.page_alert());
      return false;
    case Exchange::Outcome::answer:
      alerts_.clear(kWebAlert);
      alerts_.clear(command.page_alert());
      break;
  }
  AnswerReader& r = exchange_.reader();
  r.locate(header_label());
  if (r.skip_to_record(4)) {
    areas_.cmd.numero = r.fixed(4);
    if (is_end_marker(areas_.cmd.numero) && r.order_follows_marker(command.item_field_width)) {
      // An order numbered as an end marker (a counter that reached 9999 or
      // wrapped to 0000), or a marker with work after it: neither dropped
      // nor guessed at; kept aside for the operator, who may print it.
      exchange_.close();
      answer_complete(ctx, command.name);
      log_failure(ctx, "Resposta " + std::string(command.name) + " recusada, Comanda = " +
                           areas_.cmd.numero.substr(0, 4) + ": " + marker_refusal(areas_.cmd.numero.substr(0, 4)));
      keep_failed_answer(ctx, std::string(kRespostaPath), command.name, true);
      return false;
    }
    if (!is_end_marker(areas_.cmd.numero)) {
      const std::string id = work_id();
      std::string path = pending_path(id, command);
      // The web application has handed this work out: printing it without
      // a durable copy could lose it, or print it twice after a crash. It
      // stays in GET_KAVCMD.RET, which is not deleted before it is kept.
      if (!journal_.keep(path)) {
        exchange_.close();
        disk_failure(ctx, unkept_message(command.name));
        return false;
      }
      r.skip_to_record(4);  // the first record again, from the kept copy
      areas_.cmd.numero = r.fixed(4);
      begin_pending(std::move(path), id);
      return true;
    }
  }
  exchange_.close();
  answer_complete(ctx, command.name);
  // Text where no record could be recognised (an error page, a record whose
  // first field has no shape the reader knows): an order may have been
  // handed out in it, so it is kept and alerted, never only logged.
  if (!r.found_record() && r.has_odd_text()) keep_unrecognised_answer(ctx, command.name);
  return false;
}

void ComandasForm::keep_unrecognised_answer(form::FormContext& ctx, std::string_view command) {
  keep_failed_answer(ctx, std::string(kRespostaPath), command, true, " sem registro reconhecido");
}

// The page's own output before the answer (a warning, an error page) is
// passed over and logged, once per answer, so that the web application's
// people hear of it. Output that ran into the answer after its first record
// had started means the page failed while writing this order: nothing of
// it is printed, and the row and the log say so. The order number in that
// message is the first field of a record whose shape the reader checked.
bool ComandasForm::answer_complete(form::FormContext& ctx, std::string_view command) {
  const AnswerReader& r = exchange_.reader();
  if (r.unmappable() > 0) {
    log_repeatable(ctx, "Resposta " + std::string(command) + " em UTF-8: " + std::to_string(r.unmappable()) +
                           record::cp1252(" caractere(s) sem equivalente no Windows-1252 impresso(s) como ?, o primeiro ") +
                           code_point_name(r.first_unmappable()));
  }
  if (!r.has_odd_text()) return true;
  const std::string prefix = "Texto ignorado em " + std::string(command) + ": ";
  const std::string odd = shortened(r.leading_text(), r.inner_text(), kLogTextWidth - prefix.size());
  if (!odd.empty()) {  // an answer cut inside a record may have passed over nothing
    log_repeatable(ctx, prefix + odd);
  }
  if (!r.damaged()) return true;
  if (!r.found_record()) return false;  // no order to name: kept as an answer without a record
  log_failure(ctx, "Resposta " + std::string(command) + " incompleta, Comanda = " + areas_.cmd.numero.substr(0, 4) +
                       record::cp1252(" não impressa !!!"));
  if (!r.refusal().empty()) {
    log_failure(ctx, "Comanda " + areas_.cmd.numero.substr(0, 4) + " (" + std::string(command) + "): " + r.refusal());
  }
  return false;
}

// A web application that keeps handing out work (the same order again and
// again) would hold the run in one command: the later commands never asked,
// the monitor never polling again. After kMaxAnswersPerCommand answers with
// work the command stops for this run and the run goes on. When at least
// half of them were orders handed out before (the same command, number and
// code, since the last run that left no work), that is the page's fault: it
// is said (row, log, alert) and what is left waits for the next check.
// Otherwise it is a rush of distinct orders: the check ends with work left
// and the next starts at once. The alert ends when a run of the command
// finds no more work.
void ComandasForm::run_command(form::FormContext& ctx, const Command& command) {
  const std::string alert_key = command.answers_limit_alert();
  std::size_t repeated = 0;
  for (std::size_t handled = 0; !give_up_ && next_record(ctx, command);) {
    work_off(ctx, command);
    repeated += !seen_.insert(std::string(command.name) + areas_.cmd.numero + areas_.cmd.codigo).second;
    retire(ctx, command);
    if (++handled < kMaxAnswersPerCommand) continue;
    if (2 * repeated < handled) {
      work_left_ = true;  // a rush: the next check follows at once
      return;
    }
    const std::string bound = std::to_string(kMaxAnswersPerCommand);
    log_failure(ctx, "Limite de " + bound + " respostas " + std::string(command.name) +
                         record::cp1252(" por checagem atingido, o restante fica para a próxima !!!"));
    alerts_.raise(alert_key, std::string(command.name) + ": " + bound +
                                 record::cp1252(" respostas numa só checagem; verificar a aplicação web"));
    return;
  }
  if (!give_up_) alerts_.clear(alert_key);
}

// An answer that is not complete is not printed at all, not even with a
// mark: the kitchen would take a ticket with some of an order's items for
// the order, and a bill missing an item has a wrong total. The web
// application has already handed the order out, so what the staff need is
// the order's number on the screen and in the log, and the answer as it
// arrived (kept aside), to enter it again.
void ComandasForm::work_off(form::FormContext& ctx, const Command& command) {
  answer_failed_ = false;
  report_mark_ = report_.mark();
  tickets_.start_answer();
  switch (command.kind) {
    case Command::Kind::print_items: read_items(); break;
    case Command::Kind::cancel_item: read_cancellation(); break;
    case Command::Kind::close_order: read_bill(); break;
  }
  exchange_.close();
  if (!settling_ && !answer_complete(ctx, command.name)) {
    answer_failed_ = true;
    return;
  }
  switch (command.kind) {
    case Command::Kind::print_items: print_items(ctx); break;
    case Command::Kind::cancel_item: print_cancellation(ctx); break;
    case Command::Kind::close_order: print_bill(ctx); break;
  }
}

// The print service owns the sequence of work stamps: it knows the tickets
// kept and the pending work it was told of at start.
std::string ComandasForm::work_id() { return platform_.printing.new_work_id(); }

void ComandasForm::begin_pending(std::string path, std::string_view stamp) {
  pending_ = std::move(path);
  platform_.printing.begin_work(stamp);
}

void ComandasForm::retire(form::FormContext& ctx, const Command& command) {
  const bool kept = platform_.printing.end_work();
  std::string pending = std::move(pending_);
  pending_.clear();
  if (answer_failed_) {
    if (!pending.empty()) keep_failed_answer(ctx, pending, command.name, false);
    return;
  }
  if (tickets_.failure().empty() && !tickets_.blocked().empty()) {
    keep_for_blocked_printers(ctx, command, pending);
    return;
  }
  if (kept && tickets_.failure().empty()) {
    if (!pending.empty()) journal_.retire(pending);
    report_.order(report_mark_, report_kind(command), areas_.cmd.numero.substr(0, 4), tickets_.printers());
    for (const auto& printer : tickets_.printers()) alerts_.clear(std::string(kBlockedPrinterAlert) + record::upper(printer));
    return;
  }
  const std::string file = tickets_.failure().empty() ? std::string("no Spool") : tickets_.failure();
  disk_failure(ctx, "Falha ao gravar " + file + ", Comanda = " + areas_.cmd.numero.substr(0, 4) + " (" +
                        std::string(command.name) + ") fica pendente");
}

// A printer whose folder cannot be made stops only itself: the answer's
// other tickets are kept and printed, the answer is kept aside (the blocked
// printer's ticket can be printed from it once the folder is mended), and
// the run goes on with the next orders, cancellations and bills.
void ComandasForm::keep_for_blocked_printers(form::FormContext& ctx, const Command& command,
                                             const std::string& pending) {
  const std::string numero = areas_.cmd.numero.substr(0, 4);
  for (const auto& b : tickets_.blocked()) {
    const std::string text = "Impressora " + b.printer + ": pasta " + b.folder + record::cp1252(" não pôde ser criada") +
                             ", Comanda = " + numero + " (" + std::string(command.name) + ") guardada em Temp";
    alerts_.raise(std::string(kBlockedPrinterAlert) + record::upper(b.printer), text);
    log_failure(ctx, text + " !!!");
  }
  if (!pending.empty()) keep_failed_answer(ctx, pending, command.name, false);
}

std::string ComandasForm::unkept_message(std::string_view command) const {
  return "Falha ao guardar a resposta " + std::string(command) + ", Comanda = " + areas_.cmd.numero.substr(0, 4) +
         record::cp1252(" aguarda espaço em disco");
}

void ComandasForm::disk_failure(form::FormContext& ctx, const std::string& text) {
  give_up_ = disk_failed_ = true;
  alerts_.raise(kDiskAlert, text);
  log_failure(ctx, text + " !!!");  // the row in any case, the log when it can still be written
}

// A server that is down, silent or cut the transfer gives up the run: the
// next command would meet the same. A page that answers with an HTTP error
// (Wget's status 8) fails that command only: the others are separate
// requests of the same page, and a bill must not wait for the item page.
void ComandasForm::web_failure(form::FormContext& ctx, const Command& command) {
  const bool http_error = exchange_.batch_status().exit_code() == 8;
  if (!http_error) give_up_ = true;
  std::string answer;
  read_whole(platform_.files, kRespostaPath, answer);
  const std::size_t arrived = answer.size();
  const platform::Status& status = exchange_.batch_status();
  const std::string text =
      "Falha na consulta " + std::string(command.name) + ": " + Exchange::failure_cause(status, arrived);
  if (status.exit_code() == 3) {  // Wget could not write the answer
    disk_failed_ = true;
    alerts_.raise(kDiskAlert, text);
  } else {
    alerts_.raise(http_error ? command.page_alert() : std::string(kWebAlert), text);
  }
  log_failure(ctx, text + " !!!");
  if (arrived > 0) keep_failed_answer(ctx, std::string(kRespostaPath), command.name, true);
}

void ComandasForm::keep_failed_answer(form::FormContext& ctx, const std::string& from, std::string_view command,
                                      bool name_order, std::string_view why) {
  exchange_.close();
  std::string answer;
  const bool whole = read_whole(platform_.files, from, answer);
  if (whole && kept_answer_again(ctx, from, answer, command, name_order, why)) return;
  std::string stamp = platform::stamp_now(platform_.clock);
  auto path_of = [&] { return std::string(kFailedPrefix) + stamp + "-" + std::string(command) + ".RET"; };
  for (int tries = 0; tries < 100 && platform_.files.exists(path_of()); ++tries) stamp = platform::next_stamp(stamp);
  const std::string to = path_of();
  if (!platform_.files.rename(from, to).ok()) {
    // Never left where it would be read as an answer, or done over.
    platform_.files.remove(from).ignore();
    disk_failure(ctx, "Falha ao guardar a resposta " + std::string(command) + " incompleta; descartada");
    return;
  }
  platform_.files.sync_directory(kTempFolder).ignore();  // kept; durable with the folder's next sync
  kept_bound_.kept(name_of(to), whole ? answer.size() : size_up_to_bound(platform_.files, to));
  const std::string where = "Temp\\" + name_of(to);
  if (!name_order) {  // the row that names the order is already shown
    log::log_from_form(ctx, link_, "Resposta " + std::string(command) + " guardada em " + where);
  } else {
    const std::string numero = order_of(to);
    log_failure(ctx, numero.empty() ? "Resposta " + std::string(command) + std::string(why) + " guardada em " + where +
                                          " !!!"
                                    : "Comanda " + numero + record::cp1252(" não impressa (") + std::string(command) +
                                          " incompleta): " + where + " !!!");
  }
  bound_kept(ctx, name_of(to));
  show_failed_answers();
}

std::string ComandasForm::order_of(std::string_view path) {
  const std::string name = name_of(path);
  const auto named = record::upper(name).starts_with(kFailedName)
                         ? parse_pending_name("KAVPEND-" + name.substr(kFailedName.size()))
                         : std::nullopt;
  return examine_answer(platform_.files, path, named ? named->command : kPrintItems).numero;
}

void ComandasForm::show_failed_answers() {
  // Only the newest is read: Temp may hold up to kMaxKeptBytes of them.
  const std::vector<std::string> kept = kept_answer_names(platform_.files);
  if (kept.empty()) {
    alerts_.clear(kAnswerAlert);
    return;
  }
  const KeptAnswer last = examine_kept(platform_.files, kept.front());
  const std::string& newest = last.name;
  const std::string command = last.command ? std::string(last.command->name) : std::string("?");
  const std::string& numero = last.numero;
  const std::string order = numero.empty() ? "resposta " + command : "Comanda " + numero + " (" + command + ")";
  if (kept.size() == 1) {
    // The file is in the log and the list of kept answers; the alert names
    // the record and field that broke, when one did.
    const std::string what = numero.empty() ? "Resposta " + command + record::cp1252(" não impressa")
                                            : "Comanda " + numero + record::cp1252(" não impressa (") + command;
    if (last.why.empty()) {
      alerts_.raise(kAnswerAlert, what + (numero.empty() ? "" : " incompleta)") + ": Temp\\" + newest);
    } else {
      alerts_.raise(kAnswerAlert, what + (numero.empty() ? ": " : "): ") + last.why);
    }
  } else {
    alerts_.raise(kAnswerAlert, std::to_string(kept.size()) + record::cp1252(" respostas não impressas em ") +
                                    record::cp1252("Temp\\KAVFALHA-*.RET, a última: ") + order);
  }
}

void ComandasForm::finish_pending(form::FormContext& ctx) {
  if (!started_) journal_.start();
  std::vector<std::string> names = journal_.list();
  if (!started_) {
    started_ = true;
    std::vector<std::string> ids;
    for (const auto& name : names) ids.push_back(parse_pending_name(name)->stamp);
    platform_.printing.start(ids);
  }
  if (journal_.leftover_waits()) {
    std::optional<Command> command;
    const auto leftover = journal_.take_leftover_answer(names, command, areas_, [&] { return work_id(); });
    if (leftover == PendingJournal::Leftover::not_kept) {
      disk_failure(ctx, unkept_message(command->name));
      return;
    }
    if (leftover == PendingJournal::Leftover::cut) {
      keep_failed_answer(ctx, std::string(kRespostaPath), command->name, true);
    }
    names = journal_.list();
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
      journal_.retire(path);
      continue;
    }
    begin_pending(path, p->stamp);
    work_off(ctx, p->command);
    retire(ctx, p->command);
  }
}

int ComandasForm::log_message(form::FormContext& ctx, std::string_view text) {
  const int index = ctx.add_list_row("Lv_Proc", 1, 1);
  const form::ListRow row = ctx.get_list_row("Lv_Proc", index);
  log::log_from_form(ctx, link_, text, [&](std::string_view texto) { ctx.set_list_row_text(row, texto, 1); });
  return index;
}

int ComandasForm::log_failure(form::FormContext& ctx, std::string_view text) {
  report_.failure(text);
  if (first_of_repeats(text)) return log_message(ctx, text);
  const int index = ctx.add_list_row("Lv_Proc", 1, 1);
  link_.set_texto(text);
  ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", index), link_.texto(), 1);
  return index;
}

}  // namespace kav::orders
