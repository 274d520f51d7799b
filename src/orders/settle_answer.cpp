// Answers kept aside, settled by the operator. The answer is worked off as
// the command it came from would work off a fresh one (the same reading,
// the same tickets), except that nothing it lacks refuses it: what reads is
// printed, and every ticket says under its head that the kitchen is to check
// it against the order. Its tickets are one piece of work of the print
// service, as an answer's are; the kept file goes only when they are all in
// the spool.
#include "log/log_from_form.h"
#include "orders/answer_layouts.h"
#include "orders/comandas_form.h"
#include "orders/kept_answers.h"
#include "orders/pending_journal.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::orders {

void ComandasForm::settle_kept(form::FormContext& ctx) {
  std::vector<std::pair<std::string, Settle>> settles = std::move(settles_);
  settles_.clear();
  for (const auto& [name, how] : settles) {
    if (give_up_) {  // the disk failed: what is left waits for the next run
      settles_.push_back({name, how});
      continue;
    }
    const std::string upper = record::upper(name);
    const std::string path = std::string(kTempFolder) + "\\" + name;
    if (!upper.starts_with("KAVFALHA-") || !upper.ends_with(".RET") || name.find('\\') != std::string::npos ||
        !platform_.files.exists(path)) {
      continue;  // settled already, or never one
    }
    if (how == Settle::discard) {
      const std::string numero = order_of(path);
      if (!platform_.files.remove(path).ok()) {
        log_failure(ctx, "Falha ao descartar a resposta retida Temp\\" + name + " !!!");
        continue;
      }
      platform_.files.sync_directory(kTempFolder).ignore();  // gone; durable with the folder's next sync
      log_message(ctx, "Retida descartada pelo operador: Comanda " + (numero.empty() ? std::string("-") : numero) +
                           ", Temp\\" + name);
      continue;
    }
    print_kept(ctx, name);
  }
}

void ComandasForm::settle_only_run(form::FormContext& ctx) {
  if (!started_) {  // the pending answers' stamps stay theirs
    started_ = true;
    std::vector<std::string> ids;
    for (const auto& name : journal_.list()) {
      if (const auto p = parse_pending_name(name)) ids.push_back(p->stamp);
    }
    platform_.printing.start(ids);
  }
  settle_kept(ctx);
  show_failed_answers();
}

void ComandasForm::print_kept(form::FormContext& ctx, const std::string& name) {
  const std::string path = std::string(kTempFolder) + "\\" + name;
  const auto named = parse_pending_name("KAVPEND-" + name.substr(std::string_view("KAVFALHA-").size()));
  const Command& command = named ? named->command : kPrintItems;
  if (!exchange_.reopen(path, areas_)) {
    log_failure(ctx, "Falha ao ler a resposta retida Temp\\" + name + " !!!");
    return;
  }
  AnswerReader& r = exchange_.reader();
  r.locate(header_label());
  if (!r.skip_to_record(4)) {
    exchange_.close();
    log_failure(ctx, "Resposta retida Temp\\" + name + record::cp1252(" sem registro: nada a imprimir; descarte-a"));
    return;
  }
  areas_.cmd.numero = r.fixed(4);
  const std::string numero = areas_.cmd.numero.substr(0, 4);
  settling_ = true;
  r.set_markers_end(false);
  pending_ = path;  // a large order reads its items again from here
  tickets_.check_line(std::string(kCheckLine));
  platform_.printing.begin_work(work_id());
  work_off(ctx, command);
  const bool kept = platform_.printing.end_work();
  tickets_.check_line({});
  pending_.clear();
  settling_ = false;
  exchange_.reader().set_markers_end(true);
  if (!kept || !tickets_.failure().empty()) {
    const std::string file = tickets_.failure().empty() ? std::string("no Spool") : tickets_.failure();
    disk_failure(ctx, "Falha ao gravar " + file + ", resposta retida Temp\\" + name + " (Comanda = " + numero +
                          ") fica retida");
    return;
  }
  const std::size_t tickets = tickets_.printers().size();
  if (tickets == 0) {  // not one whole item: the file is all there is of the order
    log_failure(ctx, "Retida Comanda " + numero + record::cp1252(": nada legível a imprimir, fica retida: Temp\\") +
                         name + " !!!");
    return;
  }
  if (!platform_.files.remove(path).ok()) {
    // Its tickets are made: never printed again from here unseen.
    log_failure(ctx, "Comanda " + numero + " impressa, mas a resposta retida Temp\\" + name +
                         record::cp1252(" não pôde ser removida; descarte-a !!!"));
    return;
  }
  platform_.files.sync_directory(kTempFolder).ignore();  // gone; durable with the folder's next sync
  // The order first: a log line keeps 106 characters.
  log_message(ctx, "Retida impressa pelo operador: Comanda " + numero + " (" + std::string(command.name) + "), " +
                       std::to_string(tickets) + " ticket(s), Temp\\" + name);
}

}  // namespace kav::orders
