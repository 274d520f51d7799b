#include "platform/print/printer_info.h"

#include <cctype>

#include "record/area.h"

namespace kav::platform::print {

namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool is_space(char c) { return c == ' ' || c == '\t'; }

// The value after the keyword: the text between the first double quote and
// the next one when it opens with a quote (a missing closing quote takes the
// rest of the line), otherwise the rest of the line without trailing blanks.
std::string value_of(std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size() && is_space(rest[i])) ++i;
  rest.remove_prefix(i);
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    const auto close = rest.find('"');
    return std::string(close == std::string_view::npos ? record::trim_right(rest) : rest.substr(0, close));
  }
  while (!rest.empty() && is_space(rest.back())) rest.remove_suffix(1);
  return std::string(rest);
}

void apply(PrinterSettings& s, std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && is_space(line[i])) ++i;
  line.remove_prefix(i);
  if (line.empty() || line.front() == '*') return;
  std::size_t end = 0;
  while (end < line.size() && !is_space(line[end]) && line[end] != '"') ++end;
  const std::string keyword = upper(line.substr(0, end));
  std::string value = value_of(line.substr(end));
  if (keyword == "PRTID") s.id = std::move(value);
  else if (keyword == "PRTDRV") s.printer = std::move(value);
  else if (keyword == "PRTFORM") s.form = std::move(value);
  else if (keyword == "FORMKIND") s.form_kind = std::move(value);
  else if (keyword == "FORMSIZE") s.form_size = std::move(value);
  else if (keyword == "PRTDIALOG") s.dialog = std::move(value);
  else if (keyword == "PREVIEW") s.preview = std::move(value);
  else if (keyword == "FONTFACE") s.font_face = std::move(value);
}

}  // namespace

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
