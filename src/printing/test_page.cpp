#include "printing/test_page.h"

#include <vector>

#include "platform/print/escpos.h"
#include "printing/sheet_watch.h"
#include "record/cp1252.h"

namespace kav::printing {

namespace {

namespace escpos = platform::print::escpos;

constexpr std::string_view kRuler = "123456789012345678901234567890123456789012345678";
constexpr std::string_view kNumber = "*** COMANDA 0000 ***";

std::vector<std::string> head(const PrinterProfile& p) {
  std::vector<std::string> lines{"TESTE DE IMPRESSORA", "Impressora: " + p.printer, ""};
  for (auto& l : PrinterProfiles::describe(p)) lines.push_back(std::move(l));
  lines.emplace_back("");
  lines.emplace_back(kRuler);
  return lines;
}

}  // namespace

std::string test_page_sample() { return record::cp1252("Ação Salão feijão açúcar pão ÇÃÕÉÊÍÓÚ"); }

std::string test_page_text(const PrinterProfile& profile, std::string_view line_end,
                           const std::optional<platform::print::Paper>& sheet) {
  std::vector<std::string> lines = head(profile);
  lines.emplace_back(kNumber);
  lines.push_back(test_page_sample());
  if (sheet) {
    lines.emplace_back("");
    for (auto& l : sheet_page_lines(*sheet)) lines.push_back(std::move(l));
  }
  lines.emplace_back("");
  std::string out;
  for (const auto& l : lines) out += l + std::string(line_end);
  return out;
}

std::string test_page_bytes(const PrinterProfile& profile) {
  const auto& o = profile.escpos;
  std::string out;
  out += escpos::init;
  out += escpos::code_page(o.code_page);
  for (const auto& l : head(profile)) out += escpos::text_line(l, o.code_page, 48);
  out += escpos::big_line(std::string(kNumber), o.code_page, o.columns);
  for (const auto page : platform::print::kCodePages) {
    out += escpos::code_page(page);
    out += escpos::text_line(std::string(platform::print::code_page_name(page)) + ":", page, o.columns);
    out += escpos::text_line(test_page_sample(), page, o.columns);
  }
  out += escpos::code_page(o.code_page);
  out += escpos::feed(o.feed_lines);
  out += escpos::cut(o.cut);
  out += escpos::buzzer(o.buzzer);
  return out;
}

}  // namespace kav::printing
