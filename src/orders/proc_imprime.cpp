// CMD_IMP: the items of an order waiting to be printed, one order per answer.
#include "orders/comandas_form.h"
#include "orders/print_form.h"
#include "record/area.h"

namespace kav::orders {

void ComandasForm::proc_imprime(form::FormContext& ctx) { run_command(ctx, "CMD_IMP"); }

// The rest of the answer, after the order number of its first record.
void ComandasForm::read_imprime() {
  AnswerReader& r = exchange_.reader();
  read_order_header(r);

  Item beyond;  // item records past the last row of TAB-ITENS are read and ignored
  for (;;) {
    if (!r.skip_to_record(4)) break;
    const bool kept = areas_.w_item < kTabItensRows;
    Item& item = kept ? areas_.row(++areas_.w_item) : beyond;
    item.numcmd = r.fixed(4);
    if (is_end_marker(item.numcmd)) break;
    r.skip(2);
    item.codigo = r.fixed(6);
    r.skip(2);
    item.descricao = r.text(40);
    r.skip(1);
    item.quantidade = r.decimal(6, 3);
    r.skip(2);
    item.valor = r.decimal(7, 2);
    r.skip(2);
    item.obs = r.text(20);
    r.skip(1);
    item.impressora = r.text(20);
    if (!kept) continue;
    // Register the printer: the first equal entry, or the first blank one.
    for (areas_.w_ind = 1; areas_.w_ind <= kTabImpressorasEntries; ++areas_.w_ind) {
      std::string& entry = areas_.impressora(areas_.w_ind);
      if (entry == item.impressora) break;
      if (entry == std::string(kPrinterNameWidth, ' ')) {
        entry = item.impressora;
        break;
      }
    }
  }
}

// Reports the order, then prints one ticket per registered printer, in the
// order the answer first named them, with that printer's items in the order
// of the answer.
void ComandasForm::imprime_itens(form::FormContext& ctx) {
  log_message(ctx, "Imprimir itens da Comanda = " + areas_.cmd.numero.substr(0, 4));

  for (areas_.w_ind = 1; areas_.w_ind <= kTabImpressorasEntries; ++areas_.w_ind) {
    const std::string entry = areas_.impressora(areas_.w_ind);
    if (record::is_blank(entry)) continue;
    begin_ticket(true, entry);
    for (std::size_t w_item = 1; w_item <= kTabItensRows; ++w_item) {  // every row, not only those read
      const Item& item = areas_.row(w_item);
      if (item.impressora == entry) write_item_lines(item);
    }
    end_ticket();
  }
}

}  // namespace kav::orders
