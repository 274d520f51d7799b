// Orders larger than the answer work areas: reading an answer's items once
// more, and saying what could not be printed.
#include "orders/answer_layouts.h"
#include "orders/comandas_form.h"

namespace kav::orders {

// The answer being worked off is the kept copy when there is one, otherwise
// GET_KAVCMD.RET itself (it stays until the next exchange deletes it). The
// work areas of the form are left as the first reading made them: the items
// pass through one Item at a time, so TAB-ITENS never holds more than its
// 200 rows, and the header read again must be the same order.
std::optional<std::size_t> ComandasForm::reread_items(const Command& command,
                                                      const std::function<void(const Item&)>& each) {
  const std::string path = pending_.empty() ? std::string(kRespostaPath) : pending_;
  WorkAreas scratch;
  if (!exchange_.reopen(path, scratch)) return std::nullopt;
  AnswerReader& r = exchange_.reader();
  std::optional<std::size_t> handed;
  if (r.skip_to_record(4)) {
    scratch.cmd.numero = r.fixed(4);
    std::string printer;
    read_header(command, r, scratch.cmd, printer);
    if (scratch.cmd.numero == areas_.cmd.numero && scratch.cmd.codigo == areas_.cmd.codigo) {
      handed = 0;
      Item& item = scratch.row(1);
      while (read_item_record(command, r, item, *handed + 1)) {
        each(item);
        ++*handed;
      }
    }
  }
  exchange_.close();
  return handed;
}

void ComandasForm::report_left_out(form::FormContext& ctx, const std::string& alert_key, const std::string& text) {
  log_failure(ctx, text);
  alerts_.raise(alert_key, text);
}

}  // namespace kav::orders
