#include "platform/print/printer_info.h"

#include <cctype>

#include "record/area.h"
#include "record/letter_case.h"

namespace kav::platform::print {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

// The value after the keyword: the text between the first double quote and
// the next one when it opens with a quote (a missing closing quote takes the
// rest of the line), otherwise the rest of the line without trailing blanks.
// `after` receives what follows the closing quote.
std::string value_of(std::string_view rest, std::string_view* after = nullptr) {
  rest = trimmed(rest);
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    const auto close = rest.find('"');
    if (close == std::string_view::npos) return std::string(record::trim_right(rest));
    if (after != nullptr) *after = rest.substr(close + 1);
    return std::string(rest.substr(0, close));
  }
  return std::string(rest);
}

void apply(PrinterSettings& s, std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && is_space(line[i])) ++i;
  line.remove_prefix(i);
  if (line.empty() || line.front() == '*') return;
  std::size_t end = 0;
  while (end < line.size() && !is_space(line[end]) && line[end] != '"') ++end;
  const std::string keyword = record::upper(line.substr(0, end));
  std::string_view after;
  std::string value = value_of(line.substr(end), &after);
  if (keyword == "PRTID") s.id = std::move(value);
  else if (keyword == "PRTDRV") s.printer = std::move(value);
  else if (keyword == "PRTFORM") s.form = std::move(value);
  else if (keyword == "FORMKIND") s.form_kind = std::move(value);
  else if (keyword == "FORMSIZE") s.form_size = std::move(value);
  else if (keyword == "PRTDIALOG") s.dialog = std::move(value);
  else if (keyword == "PREVIEW") s.preview = std::move(value);
  else if (keyword == "FONTFACE") {
    s.font_face = std::move(value);
    if (const double size = parse_font_size(after); size > 0) s.font_size = size;
  } else if (keyword == "FONTSIZE") s.font_size = parse_font_size(value);
}

}  // namespace

double parse_font_size(std::string_view text) {
  text = trimmed(text);
  double size = 0;
  double scale = 0;  // 0 before the decimal separator
  if (text.empty() || text.size() > 8) return 0;
  for (const char c : text) {
    if (c == ',' || c == '.') {
      if (scale != 0) return 0;
      scale = 1;
    } else if (c >= '0' && c <= '9') {
      if (scale == 0) {
        size = size * 10 + (c - '0');
      } else {
        scale /= 10;
        size += (c - '0') * scale;
      }
    } else {
      return 0;
    }
  }
  return size >= 4 && size <= 72 ? size : 0;
}

PrinterSettings parse_printer_info(std::string_view text) {
  PrinterSettings s;
  while (!text.empty()) {
    auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    apply(s, line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return s;
}

}  // namespace kav::platform::print
