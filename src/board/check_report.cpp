#include "board/check_report.h"

#include <algorithm>

#include "board/alerts.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::log {

namespace {

std::string_view kind_word(CheckReport::Kind kind) {
  switch (kind) {
    case CheckReport::Kind::items: return "itens";
    case CheckReport::Kind::cancellation: return "cancelamento";
    case CheckReport::Kind::bill: return "conta";
  }
  return "";
}

}  // namespace

std::string CheckReport::order_row(Kind kind, std::string_view numero, const std::vector<std::string>& printers) {
  static const std::string kArrow = record::cp1252(" » ");
  static const std::string kNoPrinter = "(sem impressora)";
  std::vector<std::string> names;
  for (const std::string& printer : printers) {
    std::string name = record::blank_controls(record::trim_right(printer));
    if (name.find_first_not_of(' ') == std::string::npos) name = kNoPrinter;
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  }
  if (names.empty()) names.push_back(kNoPrinter);

  const std::string head = "Comanda " + std::string(numero) + " " + std::string(kind_word(kind)) + kArrow;
  std::string row = head;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string next = (i == 0 ? "" : ", ") + names[i];
    const std::size_t left = names.size() - i - 1;
    // The rest must still fit: this name and, unless it is the last, the count of those after it.
    const std::string more = left == 0 ? std::string() : " e mais " + std::to_string(left);
    const std::string rest = " e mais " + std::to_string(left + 1);
    if (row.size() + next.size() + more.size() > kTextWidth && i > 0) {
      row += rest;
      break;
    }
    row += next;
  }
  return Alerts::normalized(row);
}

void CheckReport::order(std::size_t at, Kind kind, std::string_view numero, const std::vector<std::string>& printers) {
  at = std::min(at, rows_.size());
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), order_row(kind, numero, printers));
}

void CheckReport::failure(std::string_view text) { rows_.push_back(Alerts::normalized(text)); }

void CheckReport::report(std::string_view text) {
  if (record::trim_right(text).ends_with(" !!!")) failure(text);
}

std::vector<std::string> CheckReport::take() {
  std::vector<std::string> rows;
  rows.swap(rows_);
  return rows;
}

}  // namespace kav::log
