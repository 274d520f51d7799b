// CAN_ITE: one cancelled item per answer.
#include "orders/comandas_form.h"

namespace kav::orders {

void ComandasForm::proc_cancela(ui::FormContext& ctx) {
  for (;;) {
    if (!exchange_.perform(ctx, "CAN_ITE", areas_)) return;
    AnswerReader& r = exchange_.reader();
    if (!r.skip_to_lt()) return exchange_.close();
    areas_.cmd.numero = r.fixed(4);
    if (is_end_marker(areas_.cmd.numero)) return exchange_.close();
    Item& item = areas_.row(1);
    r.skip(2);
    item.numcmd = r.fixed(4);
    r.skip(2);
    item.codigo = r.fixed(6);
    r.skip(2);
    item.descricao = r.text(40);
    r.skip(1);
    item.obs = r.text(20);
    r.skip(1);
    item.impressora = r.text(20);
    exchange_.close();
    imprime_cancelamento(ctx);
  }
}

void ComandasForm::imprime_cancelamento(ui::FormContext&) {}

}  // namespace kav::orders
