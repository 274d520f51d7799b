#include "orders/answer_layouts.h"

namespace kav::orders {

namespace {

// What both item layouts hold after the product code: description,
// quantity and unit value.
void read_item_amounts(AnswerReader& r, Item& item) {
  r.skip(2);
  item.descricao = r.text(40);
  r.skip(1);
  item.quantidade = r.decimal(6, 3);
  r.skip(2);
  item.valor = r.decimal(7, 2);
}

}  // namespace

void read_order_header(AnswerReader& r, AnswerHeader& cmd) {
  r.skip(2);
  cmd.codigo = r.fixed(6);
  r.skip(2);
  cmd.texto = r.text(40);
  r.skip(1);
  cmd.pessoas = r.fixed(2);
  r.skip(2);
  cmd.compl_ = r.text(20);
}

void read_bill_header(AnswerReader& r, AnswerHeader& cmd, std::string& printer) {
  read_order_header(r, cmd);
  r.skip(1);
  printer = r.text(20);
  r.skip(1);
  cmd.servico = r.fixed(2);
  r.skip(1);
}

void read_header(const Command& command, AnswerReader& r, AnswerHeader& cmd, std::string& printer) {
  if (command == kCloseOrder) {
    read_bill_header(r, cmd, printer);
  } else {
    read_order_header(r, cmd);
  }
}

bool read_print_item(AnswerReader& r, Item& item) {
  item.numcmd = r.fixed(4);
  if (is_end_marker(item.numcmd)) return false;
  r.skip(2);
  item.codigo = r.fixed(6);
  read_item_amounts(r, item);
  r.skip(2);
  item.obs = r.text(20);
  r.skip(1);
  item.impressora = r.text(20);
  return true;
}

bool read_bill_item(AnswerReader& r, Item& item) {
  item.codigo = r.fixed(6);
  if (is_end_marker(item.codigo)) return false;
  read_item_amounts(r, item);
  return true;
}

bool read_item(const Command& command, AnswerReader& r, Item& item) {
  return command == kCloseOrder ? read_bill_item(r, item) : read_print_item(r, item);
}

void read_cancelled_item(AnswerReader& r, Item& item) {
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

}  // namespace kav::orders
