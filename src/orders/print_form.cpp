#include "orders/print_form.h"

#include <algorithm>

#include "orders/fcomanda.h"
#include "platform/status.h"
#include "platform/text_file.h"
#include "record/cp1252.h"
#include "record/digits.h"

namespace kav::orders {

namespace {

std::string record80(std::string_view text) { return record::padded(text, kRegArqcfgLength); }

}  // namespace

std::string prtdrv_name(std::string_view printer_entry) {
  const std::string_view entry = printer_entry.substr(0, 20);
  std::string name = record::blank_controls(entry.substr(0, entry.find("  ")));
  std::replace(name.begin(), name.end(), '"', ' ');
  return name;
}

std::array<std::string, 9> arqcfg_records(std::string_view printer_entry) {
  return {
      record80("* Orbela Teknovarium Ltda - Comanda"),
      record80(record::cp1252("PRTID        \"Impressão de Comanda\"")),
      record80("PRTDRV       \"" + prtdrv_name(printer_entry) + "\""),
      record80("PRTFORM      \"PO\""),
      record80("FORMKIND      C"),
      record80("FORMSIZE      A4"),
      record80("PRTDIALOG     N"),
      record80("PREVIEW       1"),
      record80("FONTFACE     \"Courier New\""),
  };
}

PrintForm::PrintForm(platform::FileSystem& files, platform::PrintService& service) : files_(files), service_(service) {}

bool PrintForm::proc_cfgimp(std::string_view printer_entry) {
  w_formato_ = record::padded(kFcomanda, 8);
  platform::TextFile arqcfg(files_);
  bool ok = arqcfg.open(kArqcfgPath, platform::OpenMode::output).ok();
  for (const auto& reg_arqcfg : arqcfg_records(printer_entry)) {
    ok = arqcfg.write_line(reg_arqcfg).ok() && ok;
  }
  return arqcfg.close().ok() && ok;
}

platform::Status PrintForm::open() { return service_.open(w_formato_, kArqcfgPath); }

platform::Status PrintForm::write(std::string_view group) {
  w_grupo_ = record::padded(group, 8);
  return service_.write(w_grupo_, reg_impressao_.bytes());
}

platform::Status PrintForm::close() { return service_.close(); }

void PrintForm::move_pessoas(std::string_view cmd_pessoas) {
  const std::string_view sent = cmd_pessoas.substr(0, 2);
  const std::uint64_t pessoas = record::digits_value(sent);
  // The two characters as the page sent them (" 4" prints "Pessoas : 4"),
  // when they are digits or blanks: the number read is the number printed.
  const bool as_sent = sent.find_first_not_of("0123456789 ") == std::string_view::npos && sent.size() == 2;
  reg_impressao_.set(prt_pessoas, pessoas == 0 ? std::string()
                                               : "Pessoas :" + (as_sent ? std::string(sent) : record::to_digits(pessoas, 2)));
}

}  // namespace kav::orders
