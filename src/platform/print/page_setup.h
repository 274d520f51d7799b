// How a ticket is put on paper: the form (the printer's own continuous roll,
// or cut sheets of a named size) and the font, as the printer information
// file names them, and what each spooler is asked for to get it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/print/printer_info.h"

namespace kav::platform::print {

struct PageSetup {
  // FORMKIND "C", a continuous form: the ticket goes on the printer's own
  // roll at its width, and no paper size is asked for. The print form always
  // names it, so a ticket whose settings are not known (one kept by an
  // earlier run, a reprint) goes on the roll too: that is the default.
  bool continuous = true;
  std::string form_size;  // cut sheets: FORMSIZE ("A4"), empty for the printer's own paper
  std::string font_face;  // FONTFACE, empty when none is named
  double font_size = 0;   // points, 0 when none is named
};

// The page of a job from the settings it was opened with: any FORMKIND other
// than "C" (blanks and case aside) prints on cut sheets of FORMSIZE.
PageSetup page_setup(const PrinterSettings& settings);

inline constexpr std::string_view kDefaultFontFace = "Courier New";
// Without a size named: on a roll, 48 columns of a fixed-pitch font fill the
// 72 mm that an 80 mm roll prints (7 points: 0.6 em a character, 17 to the
// inch); on a sheet, 12 points, 10 characters and 6 lines to the inch.
inline constexpr double kRollFontPoints = 7;
inline constexpr double kSheetFontPoints = 12;

struct TicketFont {
  std::string face;
  double points = 0;
};

// The font a ticket prints in: the face and size named, or the defaults.
TicketFont ticket_font(const PageSetup& page);

// The job options of a ticket for CUPS's text filter (text/plain): on a roll
// no media (the printer's own, from its PPD) and margins of 4 mm; on
// sheets "media" set to the paper size when one is named. Both give the
// characters and lines per inch of the ticket's font ("cpi", "lpi"): the text
// filter has no choice of face, it always takes its own monospaced font.
std::vector<std::pair<std::string, std::string>> cups_text_options(const PageSetup& page);

// The Windows paper number (a DMPAPER_ value) to ask for: 0, the printer's
// default paper, on a roll and for a size not known.
short windows_paper(const PageSetup& page);

}  // namespace kav::platform::print
