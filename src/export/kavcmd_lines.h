// The lines of the exchange file KAVCMD.TXT and of the import batch file.
//
// KAVCMD.TXT holds one 200-character line per seller ("VENDEDO;code;name;")
// and per product ("PRODUTO;code;code2;description;price;"), blank-filled to
// position 200. The blanks are written out: every line is a whole record.
#pragma once

#include <string>
#include <string_view>

#include "record/area.h"

namespace kav::master_export {

inline constexpr std::size_t kLineLength = 200;  // REG-KAVCMD and REG-ARQBAT

inline constexpr std::string_view kKavcmdPath = "C:\\xampp\\htdocs\\Comandas\\FILES\\KAVCMD.TXT";
// The export is written here first and renamed to KAVCMD.TXT once complete.
inline constexpr std::string_view kKavcmdTempPath = "C:\\xampp\\htdocs\\Comandas\\FILES\\KAVCMD.TMP";
inline constexpr std::string_view kBatchPath = "C:\\OrbelaTeknovarium\\Temp\\OrbKavCmd.bat";
// Where Wget leaves the import page's answer: the folder the commands run in.
inline constexpr std::string_view kImportAnswerPath = "C:\\OrbelaTeknovarium\\Temp\\WGET.TXT";
inline constexpr std::string_view kBatchCommand = "CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\OrbKavCmd.bat";

// The seller line of a VENDEDO record. The record area is changed as the
// export changes it: the short name, when there is one, replaces the name,
// and every ";" and then every "'" becomes a blank.
std::string seller_line(record::Area& vendedo);

// The product line of a PRODUTO record, with the price as "00" and the nine
// digits of PRO-PRECO. Every ";" and then every "'" of the area becomes a
// blank first.
std::string product_line(record::Area& produto);

// The one line of OrbKavCmd.bat: Wget on the import page of `web_host`.
std::string import_batch_line(std::string_view web_host);

}  // namespace kav::master_export
