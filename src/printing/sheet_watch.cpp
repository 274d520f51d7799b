#include "printing/sheet_watch.h"

#include <cctype>
#include <cstdlib>

#include "platform/print/spool_store.h"
#include "printing/profiled_outlet.h"
#include "record/cp1252.h"

namespace kav::printing {

using platform::print::Paper;

namespace {

// The widest receipt roll is 4 1/2 in (112 mm); the narrowest sheet a driver
// offers for text (A5, 148 mm) is well beyond it.
constexpr int kWidestRoll = 1200;  // tenths of a millimetre

struct Known {
  const char* label;
  int width, length;  // tenths of a millimetre
};
constexpr Known kKnown[] = {{"A4", 2100, 2970}, {"Letter", 2159, 2794}, {"Legal", 2159, 3556},
                            {"A5", 1480, 2100}, {"A3", 2970, 4200},     {"Executive", 1842, 2667}};

bool about(int a, int b) { return std::abs(a - b) <= 20; }  // 2 mm either way

std::string lower_letters(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace

bool is_sheet(const Paper& paper) {
  if (paper.width > 0) return paper.width > kWidestRoll;
  const std::string name = lower_letters(paper.name);
  for (const std::string_view sheet : {"a3", "a4", "a5", "letter", "legal", "executive", "carta", "oficio"}) {
    if (name.find(sheet) != std::string::npos) return true;
  }
  return false;
}

std::string paper_label(const Paper& paper) {
  for (const auto& k : kKnown) {
    if (about(paper.width, k.width) && about(paper.length, k.length)) return k.label;
  }
  if (paper.width > 0 && paper.length > 0) {
    return std::to_string((paper.width + 5) / 10) + " x " + std::to_string((paper.length + 5) / 10) + " mm";
  }
  return record::cp1252(paper.name.substr(0, 12));
}

std::vector<std::string> sheet_log_lines(const std::string& printer, const Paper& paper) {
  const std::string who = "Impressora " + printer + ": ";
  return {who + "o driver usa papel " + paper_label(paper) + record::cp1252("; cada ticket ocupará uma folha inteira"),
          who + "escolha no driver um papel de rolo ou use modo = escpos em kavcomanda.ini"};
}

std::vector<std::string> sheet_page_lines(const Paper& paper) {
  return {record::cp1252("ATENÇÃO: papel padrão do driver: ") + paper_label(paper),
          record::cp1252("cada ticket ocupará uma folha inteira."),
          record::cp1252("Escolha no driver um papel de rolo (80 mm)"),
          "ou use modo = escpos em kavcomanda.ini."};
}

SheetWatch::SheetWatch(std::unique_ptr<platform::print::PrinterOutlet> spooler,
                       std::shared_ptr<PrinterConditions> conditions)
    : spooler_(std::move(spooler)), conditions_(std::move(conditions)) {}

std::optional<Paper> SheetWatch::sheet(const std::string& printer) {
  const std::lock_guard lock(mutex_);
  const std::string key = platform::print::printer_key(printer);
  if (const auto it = seen_.find(key); it != seen_.end()) return it->second;
  std::optional<Paper> paper = spooler_ ? spooler_->default_paper(printer) : std::nullopt;
  if (paper && !is_sheet(*paper)) paper.reset();
  seen_[key] = paper;
  if (paper && conditions_) {
    for (const auto& line : sheet_log_lines(printer, *paper)) conditions_->note(line);
  }
  return paper;
}

}  // namespace kav::printing
