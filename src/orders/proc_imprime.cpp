// CMD_IMP: the items of an order waiting to be printed, one order per answer.
#include "orders/comandas_form.h"

namespace kav::orders {

void ComandasForm::proc_imprime(ui::FormContext& ctx) {
  for (;;) {
    if (!exchange_.perform(ctx, "CMD_IMP", areas_)) return;
    AnswerReader& r = exchange_.reader();
    if (!r.skip_to_lt()) return exchange_.close();
    areas_.cmd.numero = r.fixed(4);
    if (is_end_marker(areas_.cmd.numero)) return exchange_.close();
    r.skip(2);
    areas_.cmd.codigo = r.fixed(6);
    r.skip(2);
    areas_.cmd.texto = r.text(40);
    r.skip(1);
    areas_.cmd.pessoas = r.fixed(2);
    r.skip(2);
    areas_.cmd.compl_ = r.text(20);

    Item beyond;  // item records past the last row of TAB-ITENS are read and ignored
    for (;;) {
      if (!r.skip_to_lt()) break;
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
    exchange_.close();
    imprime_itens(ctx);
  }
}

void ComandasForm::imprime_itens(ui::FormContext&) {}

}  // namespace kav::orders
