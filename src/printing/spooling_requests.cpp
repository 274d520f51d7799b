// What the operator asks of the spooling print service from the monitor's
// window: the recent tickets, a reprint, a ticket sent to another printer,
// a printer's test page.
#include <algorithm>

#include "board/alerts.h"
#include "board/events.h"
#include "platform/line_end.h"
#include "platform/print/spool.h"
#include "platform/status.h"
#include "printing/profiled_outlet.h"
#include "printing/spooling_print_service.h"
#include "printing/test_page.h"
#include "record/cp1252.h"
#include "record/digits.h"
#include "settings/kav_settings.h"

namespace kav::printing {

using platform::print::SpoolStore;

std::vector<KeptTicket> SpoolingPrintService::recent(std::size_t limit) {
  start({});
  collect();
  // A marked ticket's text may still change (marked as a possible copy):
  // its facts are read again.
  std::erase_if(facts_, [](const auto& known) {
    return known.first.find(platform::print::kNotDeliveredMark) != std::string::npos;
  });
  // The store knows its newest tickets since the start: a folder of a
  // year's tickets is not read again.
  SpoolView view(files_, layout_);
  std::vector<KeptTicket> tickets =
      store_.knows_newest() ? view.recent_of(store_.newest(2 * limit + 16), limit, &facts_)  // room for some removed
                            : view.recent(limit, &facts_);
  // The ledger knows better than the files whether a marked ticket is
  // on its way, in the queue, or waits to be sent again.
  for (auto& t : tickets) {
    if (!t.marked) continue;
    switch (ledger_.standing(t.folder, t.base)) {
      case Ledger::Standing::in_queue: t.state = TicketState::waiting; break;
      case Ledger::Standing::resending: t.state = TicketState::undelivered; break;
      case Ledger::Standing::stuck: t.state = TicketState::late; break;
      case Ledger::Standing::uncertain: t.state = TicketState::uncertain; break;
      default: break;
    }
  }
  return tickets;
}

platform::Status SpoolingPrintService::reprint(const KeptTicket& t) {
  start({});
  collect();
  const std::string who = (t.facts.order.empty() ? std::string("Ticket ") + t.base : "Comanda " + t.facts.order) +
                          " (" + (t.printer.empty() ? std::string("sem impressora") : t.printer) + ")";
  if (!work_.empty() || open_) return {platform::Status::kRefused, who + ": checagem em andamento; tente de novo"};
  if (t.printer.empty()) return {platform::Status::kRefused, who + record::cp1252(": ticket sem impressora; não foi reimpresso")};
  std::string text;
  if (!read_kept_ticket(files_, t, text)) {
    return {platform::Status::kRefused, who + ": ticket " + t.base + record::cp1252(" não encontrado no Spool; não foi reimpresso")};
  }
  const bool still_marked = store_.holds_marked(t.folder, t.base);
  const Ledger::Standing standing =
      still_marked ? ledger_.standing(t.folder, t.base) : Ledger::Standing::not_followed;
  switch (standing) {
    case Ledger::Standing::in_queue:
      return {platform::Status::kRefused, who + record::cp1252(": ainda na fila da impressora; não foi reimpresso")};
    case Ledger::Standing::matching:
      return {platform::Status::kRefused, who + ": sendo conferido no spooler; tente de novo em alguns segundos"};
    case Ledger::Standing::resending:
      return {platform::Status::kRefused,
              who + record::cp1252(": ainda não entregue; o monitor o reenvia sozinho quando a impressora aceitar, "
                                   "ou use \"Enviar para…\"")};
    case Ledger::Standing::stuck:
    case Ledger::Standing::uncertain:
      // Never printed (too old to go by itself), or of unknown fate: the
      // ticket itself goes now, with its late line, or marked as a possible
      // second copy; not as a "2ª via".
      if (ledger_.deliver_now(t.folder, t.base)) {
        collect();
        ledger_.update_alerts();
        return {platform::Status::kOk, who + (standing == Ledger::Standing::stuck
                                                  ? record::cp1252(": enviado para a impressora (atrasado)")
                                                  : record::cp1252(": enviado para a impressora (POSSÍVEL 2ª VIA)"))};
      }
      break;
    default: break;
  }
  // A copy of its own: a new name in the same folder, kept before it is handed over.
  const std::string base = next_base_name(t.folder);
  const std::string copy = layout_.second_copy(text, platform::kLineEnd);
  if (!store_.keep(t.folder, base, copy)) {
    ledger_.spool_failed(t.printer, t.facts.order);
    ledger_.update_alerts();
    return {platform::Status::kRefused, who + record::cp1252(": falha ao gravar a 2ª via no Spool; não foi reimpresso")};
  }
  store_.sync_folder(t.folder);
  ledger_.spool_kept(t.printer);
  std::string line = record::cp1252("2ª via de ") + t.base + " em " + t.printer + ": " + base;
  if (standing == Ledger::Standing::stuck || standing == Ledger::Standing::uncertain ||
      (still_marked && standing == Ledger::Standing::not_followed)) {
    // The copy replaces it: the original is no longer sent, nor waited for.
    if (!ledger_.settle_by_hand(t.folder, t.base)) line += record::cp1252("; marca do original não retirada !!!");
  }
  ledger_.report_line(line);
  ledger_.kept(Ticket{t.folder, base, t.printer, platform::print::PageSetup{}}, copy);
  collect();
  ledger_.update_alerts();
  return {platform::Status::kOk, who + record::cp1252(": 2ª via enviada para a impressora")};
}

std::string SpoolingPrintService::keep_elsewhere(const Ticket& from, std::string_view to, std::string text) {
  const std::string printer(platform::print::printer_name(to));
  const std::string banner = "*** PARA " + std::string(platform::print::printer_name(from.printer)) +
                             record::cp1252(" - ENVIADO À ") + printer + " ***";
  text = banner + std::string(platform::kLineEnd) + text;
  const std::string folder = store_.folder_for(printer);
  const std::string base = next_base_name(folder);
  if (!store_.keep(folder, base, text)) {
    ledger_.spool_failed(printer, from.order);
    return {};
  }
  store_.sync_folder(folder);
  ledger_.spool_kept(printer);
  Ticket t{folder, base, printer, from.page};
  t.order = from.order;
  t.rehomed = true;
  ledger_.kept(std::move(t), std::move(text));
  return base;
}

std::vector<std::string> SpoolingPrintService::printers() {
  start({});
  collect();
  std::vector<std::string> names = ledger_.known_printers();
  if (names.empty()) {  // no look at the spooler yet: the printers the spool has known
    for (const auto& folder : store_.list()) names.push_back(platform::print::printer_of_folder(folder.name));
    std::erase_if(names, [](const std::string& n) { return n.empty(); });
  }
  for (const auto& p : options_.profiles.all()) {
    if (p.mode == PrintMode::network) names.push_back(p.printer);
  }
  std::vector<std::string> distinct;
  for (const auto& n : names) {
    if (std::none_of(distinct.begin(), distinct.end(),
                     [&](const std::string& d) { return platform::print::same_printer(d, n); })) {
      distinct.push_back(n);
    }
  }
  return distinct;
}

platform::Status SpoolingPrintService::send_to(const KeptTicket& t, std::string_view printer) {
  start({});
  collect();
  const std::string who = (t.facts.order.empty() ? std::string("Ticket ") + t.base : "Comanda " + t.facts.order) +
                          " (" + (t.printer.empty() ? std::string("sem impressora") : t.printer) + ")";
  if (!work_.empty() || open_) return {platform::Status::kRefused, who + ": checagem em andamento; tente de novo"};
  if (platform::print::printer_name(printer).empty()) return {platform::Status::kRefused, "Nenhuma impressora escolhida"};
  if (platform::print::same_printer(printer, t.printer)) {
    return {platform::Status::kRefused, who + record::cp1252(": escolha outra impressora")};
  }
  if (!store_.holds_marked(t.folder, t.base)) {
    return {platform::Status::kRefused, who + record::cp1252(": já impresso; use \"Ticket (2ª via)\"")};
  }
  switch (ledger_.standing(t.folder, t.base)) {
    case Ledger::Standing::in_queue:
      return {platform::Status::kRefused, who + record::cp1252(": ainda na fila da impressora; não foi enviado")};
    case Ledger::Standing::matching:
      return {platform::Status::kRefused, who + ": sendo conferido no spooler; tente de novo em alguns segundos"};
    default: break;
  }
  const std::string name = ledger_.send_elsewhere(t.folder, t.base, printer, "Reimprimir");
  collect();
  ledger_.update_alerts();
  if (name.empty()) {
    return {platform::Status::kRefused, who + record::cp1252(": não foi enviado para ") + std::string(printer)};
  }
  return {platform::Status::kOk, who + ": enviado para " + std::string(platform::print::printer_name(printer))};
}

void report_profiles(const PrinterProfiles& profiles, const PrintReport& report, log::Alerts* board) {
  if (report) {
    for (const auto& line : profiles.problems()) report(line.substr(0, 106));
    for (const auto& p : profiles.all()) {
      if (p.mode != PrintMode::driver) report("Impressora " + p.printer + ": modo " + std::string(mode_name(p.mode)));
    }
  }
  if (board == nullptr || profiles.problems().empty()) return;
  std::string text = std::string(settings::kConfigName) + record::cp1252(" com erros (ver o log)");
  if (!profiles.refused().empty()) {
    text += "; pelo driver:";
    for (const auto& name : profiles.refused()) text += " " + name;
  }
  board->raise(std::string(log::alert_key::config_printers), text.substr(0, 100));
}

platform::Status SpoolingPrintService::test_page(std::string_view printer) {
  start({});
  const PrinterProfile p = options_.profiles.of(printer);
  if (p.printer.empty()) return {platform::Status::kRefused, "Nenhuma impressora escolhida"};
  platform::print::HandOverJob job;
  job.job = platform::print::TicketJob{p.printer, "Teste de impressora " + p.printer, platform::print::PageSetup{}};
  job.raw = p.mode != PrintMode::driver;
  const std::optional<platform::print::Paper> sheet =
      !job.raw && options_.sheets ? options_.sheets->sheet(p.printer) : std::nullopt;
  job.text = job.raw ? test_page_bytes(p) : test_page_text(p, platform::kLineEnd, sheet);
  job.kept = false;
  worker_.hand_over(std::move(job), false);
  const std::string mode(mode_name(p.mode));
  ledger_.report_line("Pagina de teste para " + p.printer + " (modo " + mode + ")");
  collect();
  return {platform::Status::kOk, record::cp1252("Página de teste enviada para ") + p.printer + " (modo " + mode + ")"};
}

}  // namespace kav::printing
