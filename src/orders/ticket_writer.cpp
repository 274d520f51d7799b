#include "orders/ticket_writer.h"

#include <algorithm>
#include <cstdint>

#include "orders/amounts.h"
#include "orders/edited.h"
#include "orders/print_record.h"
#include "platform/print/spool.h"
#include "platform/status.h"
#include "record/letter_case.h"

namespace kav::orders {

void TicketWriter::begin(bool order_texts, std::string_view printer_line) {
  if (!failure_.empty()) return;
  const std::string& entry = areas_.tab_impressoras.at(areas_.w_ind - 1);
  if (!impressao_.proc_cfgimp(entry)) {
    failure_ = "FORMPRT.PRT";
    return;
  }
  printers_.push_back(prtdrv_name(entry));
  impressao_.open().ignore();  // the print service reports its own failures
  record::Area& reg = impressao_.reg_impressao();
  reg.set(prt_numcmd, areas_.cmd.numero);
  if (order_texts) {
    reg.set(prt_texto, areas_.cmd.texto);
    impressao_.move_pessoas(areas_.cmd.pessoas);
    reg.set(prt_compl, areas_.cmd.compl_);
  } else {
    reg.set(prt_texto, "");
    reg.set(prt_pessoas, "");
    reg.set(prt_compl, "");
  }
  reg.set(prt_impressora, printer_line);
  impressao_.write(grupo::cabec).ignore();
  impressao_.write(grupo::cabcmd).ignore();
  if (!check_line_.empty()) notice(check_line_);
}

void TicketWriter::end() {
  if (!failure_.empty()) return;
  impressao_.write(grupo::traco).ignore();
  impressao_.write(grupo::orbela).ignore();
  if (impressao_.close() != platform::Status::kFailed) return;
  // The printer's own folder not there as a folder: only that printer is
  // blocked. Otherwise the spool itself failed (a full disk) and the whole
  // answer waits.
  const std::string printer = printers_.empty() ? std::string() : printers_.back();
  const std::string name = platform::print::spool_folder_name(printer);
  const bool folder_missing = std::ranges::none_of(files_.list(platform::print::kSpoolRoot, true),
                                                   [&](const std::string& f) { return record::same_letters(f, name); });
  if (folder_missing && files_.exists(platform::print::kSpoolRoot)) {
    blocked_.push_back({printer, "Spool\\" + name});
  } else {
    failure_ = "no Spool";
  }
}

// A quantity other than zero or one goes on the item's line (ITEQTD, "3 x
// Caipirinha"): a kitchen that reads one line per dish makes one of three
// otherwise. Zero and one keep the plain line, so a page that sends one
// record per unit prints as it always has.
void TicketWriter::item_lines(const Item& item) {
  record::Area& reg = impressao_.reg_impressao();
  reg.set(prt_descricao, item.descricao);
  const std::uint64_t quantidade = field_value(item.quantidade);
  if (quantidade != 0 && quantidade != 1000) {
    reg.set(prt_quantidade, edited_quantity(quantidade));
    impressao_.write(grupo::iteqtd).ignore();
  } else {
    impressao_.write(grupo::itecmd).ignore();
  }
  if (!record::is_blank(item.obs)) {
    reg.set(prt_obs, item.obs);
    impressao_.write(grupo::obsite).ignore();
  }
}

// A notice prints as an item line (ITECMD), so every ticket layout shows it
// where the missing items would have stood.
void TicketWriter::notice(std::string_view text) {
  impressao_.reg_impressao().set(prt_descricao, text);
  impressao_.write(grupo::itecmd).ignore();
}

}  // namespace kav::orders
