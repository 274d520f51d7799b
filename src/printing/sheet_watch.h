// A printer printing through its driver on a sheet: the ticket is a roll's
// (a narrow column of text, as long as its lines), but a driver whose default
// paper is A4 or Letter feeds a whole sheet for each one. Each such printer
// is named once a run, with what to set: a roll paper in its driver, or
// `modo = escpos`.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/print/outlet.h"

namespace kav::printing {

class PrinterConditions;

// Whether `paper` is a sheet rather than a roll: wider than any receipt roll
// (rolls are 58 to 112 mm wide), or, its size not known, named as a sheet
// (A4, Letter, Legal...).
bool is_sheet(const platform::print::Paper& paper);

// The paper as the operator knows it: "A4", "Letter", "Legal", or its size
// in millimetres ("148 x 210 mm"), or the driver's name of it.
std::string paper_label(const platform::print::Paper& paper);

// The log's lines for a printer on a sheet (Windows-1252, each at most 106
// characters with a printer name of 20).
std::vector<std::string> sheet_log_lines(const std::string& printer, const platform::print::Paper& paper);

// The test page's lines for it (Windows-1252, at most 48 columns each).
std::vector<std::string> sheet_page_lines(const platform::print::Paper& paper);

// Asks a spooler for the default paper of each printer once a run, and notes
// in `conditions` (for the log) the first time a printer is seen on a sheet.
// Thread-safe: the hand-over's worker and the reprint form's test page both
// ask.
class SheetWatch {
 public:
  // `spooler` is asked only for default_paper(), under the watch's lock.
  SheetWatch(std::unique_ptr<platform::print::PrinterOutlet> spooler, std::shared_ptr<PrinterConditions> conditions);

  // The printer's default paper when it is a sheet; nothing for a roll, or a
  // paper the spooler does not tell.
  std::optional<platform::print::Paper> sheet(const std::string& printer);

 private:
  std::mutex mutex_;
  std::unique_ptr<platform::print::PrinterOutlet> spooler_;
  std::shared_ptr<PrinterConditions> conditions_;
  std::map<std::string, std::optional<platform::print::Paper>> seen_;  // by printer key
};

}  // namespace kav::printing
