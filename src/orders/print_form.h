// The comanda print form of 90-COMANDAS: the print file IMPRESSAO with its
// record REG-IMPRESSAO, the printer information file ARQCFG that names the
// printer of each job, and the printer setup PROC-CFGIMP.
//
// A print job, as every command performs it: proc_cfgimp() for the job's
// printer; open(); fill the fields of REG-IMPRESSAO and write() each group;
// close(). One job prints one ticket on one printer. No status is examined by
// the commands; each operation still returns its two-character status.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "orders/print_record.h"
#include "platform/file_system.h"
#include "printing/print_service.h"
#include "record/area.h"

namespace kav::orders {

inline constexpr std::string_view kArqcfgPath = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";
inline constexpr std::size_t kRegArqcfgLength = 80;

// The printer name that the PRTDRV line carries for an entry of
// TAB-IMPRESSORAS: the entry up to, not including, its first pair of adjacent
// blanks (a name without such a pair is taken whole, a trailing blank
// included). A control character or a double quote would break the line or
// its quoting; each is written as a blank.
std::string prtdrv_name(std::string_view printer_entry);

// The nine records of FORMPRT.PRT for a printer entry, each 80 characters
// (the text blank-filled to 80; written whole, trailing blanks included).
std::array<std::string, 9> arqcfg_records(std::string_view printer_entry);

class PrintForm {
 public:
  PrintForm(platform::FileSystem& files, platform::PrintService& service);

  // REG-IMPRESSAO: the commands move their values into its fields.
  record::Area& reg_impressao() { return reg_impressao_; }
  const record::Area& reg_impressao() const { return reg_impressao_; }
  std::string_view w_grupo() const { return w_grupo_; }
  std::string_view w_formato() const { return w_formato_; }

  // PROC-CFGIMP: writes FORMPRT.PRT for the printer entry (20 characters of
  // TAB-IMPRESSORAS; it may be blank). False when the file could not be
  // written whole: a job opened on it would go to no printer, or another's.
  bool proc_cfgimp(std::string_view printer_entry);

  // IMPRESSAO.
  platform::Status open();
  // Moves `group` into W-GRUPO (left-aligned, blank-filled to 8) and writes
  // REG-IMPRESSAO as that group.
  platform::Status write(std::string_view group);
  platform::Status close();

  // PRT-PESSOAS from CMD-PESSOAS: blanks when the people are zero, otherwise
  // "Pessoas :" and the two characters of CMD-PESSOAS (a character other
  // than a digit or a blank counts as 0, and then the two digits of the
  // number read are printed).
  void move_pessoas(std::string_view cmd_pessoas);

 private:
  platform::FileSystem& files_;
  platform::PrintService& service_;
  record::Area reg_impressao_{kRegImpressaoLength};
  std::string w_grupo_ = std::string(8, ' ');
  std::string w_formato_ = std::string(8, ' ');
};

}  // namespace kav::orders
