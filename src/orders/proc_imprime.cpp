// CMD_IMP: the items of an order waiting to be printed, one order per answer.
//
// An order larger than the work areas. TAB-ITENS keeps 200 item rows and
// TAB-IMPRESSORAS 20 printer names; an order may carry more of either, and a
// kitchen ticket that silently lacks items is a dish never made. So nothing
// is left out for the tables' sake:
// - every item record is read and counted, and every printer name registered;
//   names past the 20 entries are kept, in order of first appearance, and
//   their tickets follow in further rounds of 20 through the same table;
// - with at most 200 items the tickets are made from TAB-ITENS as it was
//   read; with more, each ticket reads the kept answer again from its start,
//   one item record at a time, so every item reaches its printer's ticket in
//   the order of the answer, and the table never holds more than 200 rows.
// Only what cannot be done is left out, and then loudly (a notice on the
// ticket, a row of Lv_Proc, the log and an alert): the answer cannot be read
// again (the ticket then has the 200 items of TAB-ITENS), or an order names
// more than kMaxPrintersPerOrder printers (each ticket of a large order reads
// the whole answer again, so the printers bound the work of one order).
#include "board/events.h"
#include "log/log_from_form.h"
#include "orders/answer_layouts.h"
#include "orders/comandas_form.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::orders {

void ComandasForm::proc_imprime(form::FormContext& ctx) { run_command(ctx, kPrintItems); }

// The first equal entry of TAB-IMPRESSORAS, or the first blank one; when all
// 20 hold other names, the list of printers past the table. A blank name is
// never registered: its items are not printed.
void ComandasForm::register_printer(const std::string& name) {
  if (record::is_blank(name)) return;
  for (areas_.w_ind = 1; areas_.w_ind <= kTabImpressorasEntries; ++areas_.w_ind) {
    std::string& entry = areas_.impressora(areas_.w_ind);
    if (entry == name) return;
    if (record::is_blank(entry)) {
      entry = name;
      return;
    }
  }
  for (const std::string& more : more_printers_) {
    if (more == name) return;
  }
  if (kTabImpressorasEntries + more_printers_.size() < kMaxPrintersPerOrder) {
    more_printers_.push_back(name);
  } else {
    ++items_without_ticket_;
  }
}

// The rest of the answer, after the order number of its first record.
void ComandasForm::read_items() {
  AnswerReader& r = exchange_.reader();
  read_order_header(r, areas_.cmd);
  items_read_ = 0;
  more_printers_.clear();
  items_without_ticket_ = 0;

  Item beyond;  // item records past the last row of TAB-ITENS: counted, their printers registered
  for (;;) {
    if (!item_record_follows(kPrintItems, r, items_read_ + 1)) break;
    Item& item = areas_.w_item < kTabItensRows ? areas_.row(++areas_.w_item) : beyond;
    if (!read_item_checked(kPrintItems, r, item, items_read_ + 1)) break;
    ++items_read_;
    register_printer(item.impressora);
  }
}

// Reports the order, then prints one ticket per registered printer, in the
// order the answer first named them, with that printer's items in the order
// of the answer.
void ComandasForm::print_items(form::FormContext& ctx) {
  const std::string numero = areas_.cmd.numero.substr(0, 4);
  log_message(ctx, "Imprimir itens da Comanda = " + numero);
  if (items_read_ > kTabItensRows || !more_printers_.empty()) {
    std::size_t printers = more_printers_.size();
    for (const std::string& entry : areas_.tab_impressoras) printers += record::is_blank(entry) ? 0 : 1;
    log::log_from_form(ctx, link_,
                       "Comanda " + numero + record::cp1252(" além das tabelas de 200 itens e 20 impressoras: itens ") +
                           std::to_string(items_read_) + ", impressoras " + std::to_string(printers));
  }
  left_out_after_.reset();
  print_printer_round();
  // Printers past the table: 20 more at a time in TAB-IMPRESSORAS.
  for (std::size_t first = 0; first < more_printers_.size(); first += kTabImpressorasEntries) {
    for (std::size_t i = 1; i <= kTabImpressorasEntries; ++i) {
      const std::size_t k = first + i - 1;
      areas_.impressora(i) = k < more_printers_.size() ? more_printers_[k] : std::string(kPrinterNameWidth, ' ');
    }
    print_printer_round();
  }

  const std::string items_key = kPrintItems.items_limit_alert(numero);
  const std::string printers_key = std::string(log::alert_key::printers_limit) + "CMD_IMP." + numero;
  if (left_out_after_) {
    report_left_out(ctx, items_key,
                    "Comanda " + numero + " com " + std::to_string(items_read_) + record::cp1252(" itens: itens além de ") +
                        std::to_string(*left_out_after_) + record::cp1252(" não impressos !!!"));
  } else {
    alerts_.clear(items_key);  // printed in full: again, or the first time
  }
  if (items_without_ticket_ > 0) {
    report_left_out(ctx, printers_key,
                    "Comanda " + numero + ": " + std::to_string(items_without_ticket_) +
                        record::cp1252(" itens de impressoras além de ") + std::to_string(kMaxPrintersPerOrder) +
                        record::cp1252(" não impressos !!!"));
  } else {
    alerts_.clear(printers_key);
  }
}

void ComandasForm::print_printer_round() {
  for (areas_.w_ind = 1; areas_.w_ind <= kTabImpressorasEntries; ++areas_.w_ind) {
    const std::string entry = areas_.impressora(areas_.w_ind);
    if (record::is_blank(entry)) continue;
    tickets_.begin(true, entry);
    std::optional<std::size_t> reread;
    if (items_read_ > kTabItensRows) {
      reread = reread_items(kPrintItems, [&](const Item& item) {
        if (item.impressora == entry) tickets_.item_lines(item);
      });
    }
    if (items_read_ <= kTabItensRows || !reread) {  // every row, not only those read
      for (std::size_t w_item = 1; w_item <= kTabItensRows; ++w_item) {
        const Item& item = areas_.row(w_item);
        if (item.impressora == entry) tickets_.item_lines(item);
      }
    }
    if (items_read_ > kTabItensRows && (!reread || *reread < items_read_)) {
      const std::size_t printed = reread ? *reread : kTabItensRows;
      tickets_.notice(record::cp1252("*** ITENS ALÉM DE ") + std::to_string(printed) +
                   record::cp1252(" NÃO IMPRESSOS ***"));
      left_out_after_ = printed;
    }
    tickets_.end();
  }
}

}  // namespace kav::orders
