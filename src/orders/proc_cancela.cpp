// CAN_ITE: one cancelled item per answer.
#include "orders/answer_layouts.h"
#include "orders/comandas_form.h"
#include "orders/print_record.h"
#include "record/area.h"

namespace kav::orders {

void ComandasForm::proc_cancela(form::FormContext& ctx) { run_command(ctx, kCancelItem); }

// The rest of the answer, after the order number of its first record.
void ComandasForm::read_cancellation() { read_cancelled_item(exchange_.reader(), areas_.row(1)); }

// Reports the cancellation and prints its ticket on the printer
// the answer names, even a blank one. The header texts and the people are
// blanked: a cancellation ticket never shows them.
void ComandasForm::print_cancellation(form::FormContext& ctx) {
  const Item& item = areas_.row(1);
  log_message(ctx, "Cancelado item " + item.numcmd.substr(0, 4) + " da Comanda = " + areas_.cmd.numero.substr(0, 4));

  areas_.w_ind = 1;
  areas_.impressora(1) = item.impressora;
  tickets_.begin(false, areas_.impressora(1));
  tickets_.item_lines(item);
  tickets_.write(grupo::traco);
  tickets_.write(grupo::canc);
  tickets_.end();
}

}  // namespace kav::orders
