// CMD_FEC: an order to be paid per answer, billed with its totals.
#include "log/log_from_form.h"
#include "orders/amounts.h"
#include "orders/answer_layouts.h"
#include "orders/comandas_form.h"
#include "orders/edited.h"
#include "orders/print_record.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "record/digits.h"

namespace kav::orders {

void ComandasForm::proc_fecha(form::FormContext& ctx) { run_command(ctx, kCloseOrder); }

// The rest of the answer, after the order number of its first record. Every
// item record is read, counted and added to the products total, those past
// the last row of TAB-ITENS too.
void ComandasForm::read_bill() {
  AnswerReader& r = exchange_.reader();
  read_bill_header(r, areas_.cmd, areas_.row(1).impressora);  // the bill's printer travels in row 1
  items_read_ = 0;
  subtotal_read_ = 0;

  Item beyond;
  for (;;) {
    if (!item_record_follows(kCloseOrder, r, items_read_ + 1)) break;
    Item& item = areas_.w_item < kTabItensRows ? areas_.row(++areas_.w_item) : beyond;
    if (!read_item_checked(kCloseOrder, r, item, items_read_ + 1)) break;
    ++items_read_;
    subtotal_read_ = add_values(subtotal_read_, item_value(field_value(item.quantidade), field_value(item.valor)));
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
//
// An order of more than 200 items (TAB-ITENS has 200 rows) is billed whole,
// on one bill: its items were all counted and summed while the answer was
// read, and the item lines are printed by reading the kept answer again from
// its start, one item record at a time. The totals are always those of every
// item of the answer, never of the rows that fit the table. Should the answer
// not be readable again, the bill lists the 200 rows of the table, says on
// its face that the items past them are not listed and that the totals
// include them, and the row, the log and an alert say so too.
void ComandasForm::print_bill(form::FormContext& ctx) {
  const std::string numero = areas_.cmd.numero.substr(0, 4);
  const int row_index = log_message(ctx, "Imprimir Comanda para pagamento = " + numero);
  const Item& first = areas_.row(1);
  if (record::is_blank(first.impressora)) return;

  // The printer message replaces the order message in the same row.
  log::log_from_form(ctx, link_, "Impressora = " + first.impressora.substr(0, kPrinterNameWidth),
                     [&](std::string_view texto) {
                       ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", row_index), texto, 1);
                     });
  if (items_read_ > kTabItensRows) {
    log::log_from_form(ctx, link_,
                       "Comanda " + numero + " com " + std::to_string(items_read_) +
                           record::cp1252(" itens: além da tabela de 200, conta impressa inteira"));
  }

  areas_.w_ind = 1;
  areas_.impressora(1) = first.impressora;
  tickets_.begin(true, "");
  record::Area& reg = tickets_.reg_impressao();

  std::uint64_t w_subtotal = 0;
  auto bill_line = [&](const Item& item) {
    const std::uint64_t quantidade = field_value(item.quantidade);
    if (quantidade == 0) return;
    reg.set(prt_descricao, item.descricao);
    tickets_.write(grupo::itecmd);
    reg.set(prt_codigo, item.codigo);
    reg.set(prt_quantidade, edited_quantity(quantidade));  // W-QTDE-INT when whole
    const std::uint64_t valor = field_value(item.valor);
    reg.set(prt_valor, edit_z_zzz_zz9_99(valor));
    const std::uint64_t w_total_item = item_value(quantidade, valor);
    reg.set(prt_total, edit_z_zzz_zz9_99(w_total_item));
    tickets_.write(grupo::valcmd);
    w_subtotal = add_values(w_subtotal, w_total_item);
  };
  std::optional<std::size_t> listed;
  if (items_read_ > kTabItensRows) listed = reread_items(kCloseOrder, bill_line);
  if (items_read_ <= kTabItensRows || !listed) {
    for (std::size_t w_item = 1; w_item <= kTabItensRows; ++w_item) bill_line(areas_.row(w_item));  // every row
    if (items_read_ > kTabItensRows) listed = kTabItensRows;
  }
  const std::string alert_key = kCloseOrder.items_limit_alert(numero);
  if (items_read_ > kTabItensRows && *listed < items_read_) {
    w_subtotal = subtotal_read_;
    tickets_.notice(record::cp1252("*** ITENS ALÉM DE ") + std::to_string(*listed) +
                    record::cp1252(" NÃO LISTADOS ***"));
    tickets_.notice("*** TOTAIS COM TODOS OS " + std::to_string(items_read_) + " ITENS ***");
    report_left_out(ctx, alert_key,
                    "Comanda " + numero + " com " + std::to_string(items_read_) +
                        record::cp1252(" itens: conta sem os itens além de ") + std::to_string(*listed) +
                        record::cp1252(", totais com todos !!!"));
  } else {
    alerts_.clear(alert_key);
  }
  tickets_.write(grupo::traco);
  print_bill_totals(w_subtotal);
  tickets_.end();
}

// The bill's total lines: the products, then the service and the bill's
// total when there is a service, then the share of each person when the
// order says how many they are.
void ComandasForm::print_bill_totals(std::uint64_t w_subtotal) {
  record::Area& reg = tickets_.reg_impressao();
  auto total_line = [&](std::string_view rotulo, std::uint64_t hundredths) {
    reg.set(prt_linha_tot, linha_tot(rotulo, hundredths));
    tickets_.write(grupo::subtot);
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
}

}  // namespace kav::orders
