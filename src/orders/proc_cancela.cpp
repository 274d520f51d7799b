// CAN_ITE: one cancelled item per answer.
#include "orders/comandas_form.h"
#include "orders/print_form.h"
#include "record/area.h"

namespace kav::orders {

void ComandasForm::proc_cancela(form::FormContext& ctx) { run_command(ctx, "CAN_ITE"); }

// The rest of the answer, after the order number of its first record.
void ComandasForm::read_cancela() {
  AnswerReader& r = exchange_.reader();
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
}

// Reports the cancellation and prints its ticket on the printer
// the answer names, even a blank one. The header texts and the people are
// blanked: a cancellation ticket never shows them.
void ComandasForm::imprime_cancelamento(form::FormContext& ctx) {
  const Item& item = areas_.row(1);
  log_message(ctx, "Cancelado item " + item.numcmd.substr(0, 4) + " da Comanda = " + areas_.cmd.numero.substr(0, 4));

  areas_.w_ind = 1;
  areas_.impressora(1) = item.impressora;
  begin_ticket(false, areas_.impressora(1));
  write_item_lines(item);
  impressao_.write(grupo::traco);
  impressao_.write(grupo::canc);
  end_ticket();
}

}  // namespace kav::orders
