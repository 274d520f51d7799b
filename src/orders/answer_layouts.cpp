#include "orders/answer_layouts.h"

#include "record/cp1252.h"

namespace kav::orders {

namespace {

// The fields' names in a refusal.
const std::string kCodigo = record::cp1252("código");
const std::string kDescricao = record::cp1252("descrição");
const std::string kObservacao = record::cp1252("observação");

// What both item layouts hold after the product code: description,
// quantity and unit value.
void read_item_amounts(AnswerReader& r, Item& item) {
  r.skip(2);
  r.field(kDescricao);
  item.descricao = r.text(40);
  r.skip(1);
  r.field("quantidade");
  item.quantidade = r.decimal(6, 3);
  r.skip(2);
  r.field("valor");
  item.valor = r.decimal(7, 2);
}

}  // namespace

void read_order_header(AnswerReader& r, AnswerHeader& cmd) {
  r.locate(header_label());
  r.field("comanda");
  r.skip(2);
  r.field(kCodigo);
  cmd.codigo = r.fixed(6);
  r.skip(2);
  r.field("texto");
  cmd.texto = r.text(40);
  r.skip(1);
  r.field("pessoas");
  cmd.pessoas = r.fixed(2);
  r.skip(2);
  r.field("texto 2");
  cmd.compl_ = r.text(20);
}

void read_bill_header(AnswerReader& r, AnswerHeader& cmd, std::string& printer) {
  read_order_header(r, cmd);
  r.skip(1);
  r.field("impressora");
  printer = r.text(20);
  r.skip(1);
  r.field(record::cp1252("serviço"));
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
  r.field("comanda");
  item.numcmd = r.fixed(4);
  if (r.markers_end() && is_end_marker(item.numcmd)) return false;
  r.skip(2);
  r.field(kCodigo);
  item.codigo = r.fixed(6);
  read_item_amounts(r, item);
  r.skip(2);
  r.field(kObservacao);
  item.obs = r.text(20);
  r.skip(1);
  r.field("impressora");
  item.impressora = r.text(20);
  return true;
}

bool read_bill_item(AnswerReader& r, Item& item) {
  r.field(kCodigo);
  item.codigo = r.fixed(6);
  if (r.markers_end() && is_end_marker(item.codigo)) return false;
  read_item_amounts(r, item);
  return true;
}

bool read_item(const Command& command, AnswerReader& r, Item& item) {
  return command == kCloseOrder ? read_bill_item(r, item) : read_print_item(r, item);
}

void read_cancelled_item(AnswerReader& r, Item& item) {
  r.locate("cancelamento");
  r.field("comanda");
  r.skip(2);
  r.field("item");
  item.numcmd = r.fixed(4);
  r.skip(2);
  r.field(kCodigo);
  item.codigo = r.fixed(6);
  r.skip(2);
  r.field(kDescricao);
  item.descricao = r.text(40);
  r.skip(1);
  r.field(kObservacao);
  item.obs = r.text(20);
  r.skip(1);
  r.field("impressora");
  item.impressora = r.text(20);
}

std::string header_label() { return record::cp1252("cabeçalho"); }

std::string item_label(std::size_t n) { return "item " + std::to_string(n); }

bool item_record_follows(const Command& command, AnswerReader& r, std::size_t n) {
  r.locate(item_label(n));
  r.field("");
  return r.skip_to_record(command.item_field_width);
}

bool read_item_record(const Command& command, AnswerReader& r, Item& item, std::size_t n) {
  return item_record_follows(command, r, n) && read_item_checked(command, r, item, n);
}

bool read_item_checked(const Command& command, AnswerReader& r, Item& item, std::size_t n) {
  if (read_item(command, r, item)) return true;
  // An end marker: it ends the items only when nothing of an order follows.
  const std::string marker = command == kCloseOrder ? item.codigo : item.numcmd;
  if (r.order_follows_marker(command.item_field_width)) {
    r.refuse(item_label(n) + ", " + (command == kCloseOrder ? kCodigo : std::string("comanda")) + ": '" + marker +
             record::cp1252("' é marcador de fim, mas há registros depois dele"));
  }
  return false;
}

}  // namespace kav::orders
