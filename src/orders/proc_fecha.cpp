// CMD_FEC: an order to be paid per answer, billed with its totals.
#include "log/log_from_form.h"
#include "orders/comandas_form.h"
#include "orders/amounts.h"
#include "orders/edited.h"
#include "orders/print_form.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "record/digits.h"

namespace kav::orders {

void ComandasForm::proc_fecha(form::FormContext& ctx) { run_command(ctx, "CMD_FEC"); }

// The rest of the answer, after the order number of its first record.
void ComandasForm::read_fecha() {
  AnswerReader& r = exchange_.reader();
  read_order_header(r);
  r.skip(1);
  areas_.row(1).impressora = r.text(20);  // the bill's printer travels in row 1
  r.skip(1);
  areas_.cmd.servico = r.fixed(2);
  r.skip(1);

  Item beyond;  // item records past the last row of TAB-ITENS are read and ignored
  for (;;) {
    if (!r.skip_to_record(6)) break;
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
}

namespace {

// W-LINHA-TOT: the label in W-ROTULO (18), the value edited Z.ZZZ.ZZ9,99 in
// W-VALOR-ED (12); PRT-LINHA-TOT adds one blank.
std::string linha_tot(std::string_view rotulo, std::uint64_t hundredths) {
  return record::padded(rotulo, 18) + edit_z_zzz_zz9_99(hundredths);
}

}  // namespace

// Reports the order and, when the answer names a printer, the printer; prints
// the bill with every item's value and the totals, all computed here with the
// exact arithmetic of orders/amounts.h.
//
// The service percentage and the people are taken by their value (a
// character that is not a digit counts as 0): that value decides whether
// their lines print, and it is what the label "Serviço 99%" and PRT-PESSOAS
// show, so a bill never prints one number and computes with another.
void ComandasForm::imprime_conta(form::FormContext& ctx) {
  const int row_index = log_message(ctx, "Imprimir Comanda para pagamento = " + areas_.cmd.numero.substr(0, 4));
  const Item& first = areas_.row(1);
  if (record::is_blank(first.impressora)) return;

  // The printer message replaces the order message in the same row.
  log::log_from_form(ctx, link_, "Impressora = " + first.impressora.substr(0, kPrinterNameWidth),
                     [&](std::string_view texto) {
                       ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", row_index), texto, 1);
                     });

  areas_.w_ind = 1;
  areas_.impressora(1) = first.impressora;
  begin_ticket(true, "");
  record::Area& reg = impressao_.reg_impressao();

  std::uint64_t w_subtotal = 0;
  for (std::size_t w_item = 1; w_item <= kTabItensRows; ++w_item) {  // every row, not only those read
    const Item& item = areas_.row(w_item);
    const std::uint64_t quantidade = field_value(item.quantidade);
    if (quantidade == 0) continue;
    reg.set(prt_descricao, item.descricao);
    impressao_.write(grupo::itecmd);
    reg.set(prt_codigo, item.codigo);
    const std::uint64_t w_qtde_int = field_value(std::string_view(item.quantidade).substr(0, 6));
    reg.set(prt_quantidade, quantidade % 1000 == 0 ? edit_zzz_zz9(w_qtde_int) + "    " : edit_zzz_zz9_999(quantidade));
    const std::uint64_t valor = field_value(item.valor);
    reg.set(prt_valor, edit_z_zzz_zz9_99(valor));
    const std::uint64_t w_total_item = item_value(quantidade, valor);
    reg.set(prt_total, edit_z_zzz_zz9_99(w_total_item));
    impressao_.write(grupo::valcmd);
    w_subtotal = add_values(w_subtotal, w_total_item);
  }
  impressao_.write(grupo::traco);

  auto total_line = [&](std::string_view rotulo, std::uint64_t hundredths) {
    reg.set(prt_linha_tot, linha_tot(rotulo, hundredths));
    impressao_.write(grupo::subtot);
  };
  total_line("Total de Produtos", w_subtotal);

  std::uint64_t w_total_conta = w_subtotal;
  const std::uint64_t servico = field_value(areas_.cmd.servico);
  if (servico != 0) {
    const std::uint64_t w_servico = service_value(w_subtotal, servico);
    std::string rotulo = record::cp1252("Serviço 99%");
    rotulo.replace(8, 2, record::to_digits(servico, 2));
    total_line(rotulo, w_servico);
    w_total_conta = add_values(w_subtotal, w_servico);
    total_line("Total da Conta", w_total_conta);
  }
  const std::uint64_t pessoas = field_value(areas_.cmd.pessoas);
  if (pessoas != 0) {
    w_total_conta = per_person(w_total_conta, pessoas);
    total_line("Valor por Pessoa", w_total_conta);
  }

  end_ticket();
}

}  // namespace kav::orders
