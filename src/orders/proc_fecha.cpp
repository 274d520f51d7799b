// CMD_FEC: an order to be paid per answer, billed with its totals.
#include "orders/comandas_form.h"

namespace kav::orders {

void ComandasForm::proc_fecha(ui::FormContext& ctx) {
  for (;;) {
    if (!exchange_.perform(ctx, "CMD_FEC", areas_)) return;
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
    r.skip(1);
    areas_.row(1).impressora = r.text(20);  // the bill's printer travels in row 1
    r.skip(1);
    areas_.cmd.servico = r.fixed(2);
    r.skip(1);

    Item beyond;  // item records past the last row of TAB-ITENS are read and ignored
    for (;;) {
      if (!r.skip_to_lt()) break;
      Item& item = areas_.w_item < kTabItensRows ? areas_.row(++areas_.w_item) : beyond;
      item.codigo = r.fixed(6);
      if (is_end_marker(item.codigo)) break;  // the row keeps the marker and a zero quantity
      r.skip(2);
      item.descricao = r.text(40);
      r.skip(1);
      item.quantidade = r.decimal(6, 3);
      r.skip(2);
      item.valor = r.decimal(7, 2);
    }
    exchange_.close();
    imprime_conta(ctx);
  }
}

void ComandasForm::imprime_conta(ui::FormContext&) {}

}  // namespace kav::orders
