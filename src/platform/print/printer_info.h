// The printer information file that the print form writes before each job
// (C:\OrbelaTeknovarium\Temp\FORMPRT.PRT): one setting per line, a keyword,
// blanks, and a value that may stand between double quotes. Lines that begin
// with "*" are comments.
//
// The font may name its size in points, after the face or on a line of its
// own: FONTFACE "Courier New" 9, or FONTSIZE 8,5 (comma or point for the
// decimals). A size outside 4 to 72 points, or not a number, names none.
#pragma once

#include <string>
#include <string_view>

namespace kav::platform::print {

struct PrinterSettings {
  std::string id;         // PRTID: the job's description
  std::string printer;    // PRTDRV: the printer's name, blanks kept as written
  std::string form;       // PRTFORM
  std::string form_kind;  // FORMKIND
  std::string form_size;  // FORMSIZE: paper size, e.g. "A4"
  std::string dialog;     // PRTDIALOG: "N" prints without asking
  std::string preview;    // PREVIEW
  std::string font_face;  // FONTFACE
  double font_size = 0;   // the font's size in points, 0 when none is named
};

// A font size in points as the file writes it ("9", "8,5", "10.5"), or 0
// when it is not one from 4 to 72.
double parse_font_size(std::string_view text);

// Reads the settings from the file's text. Comment lines, blank lines and
// unknown keywords are passed over; a keyword given twice keeps the last
// value; keywords match without regard to case. Line ends may be LF or CR LF.
PrinterSettings parse_printer_info(std::string_view text);

}  // namespace kav::platform::print
