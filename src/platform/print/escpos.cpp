#include "platform/print/escpos.h"

#include <algorithm>
#include <vector>

namespace kav::platform::print {

namespace {

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string printable(std::string_view s, CodePage page) {
  std::string out(s);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return to_code_page(out, page);
}

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace

namespace escpos {

std::string code_page(CodePage page) { return std::string("\x1B\x74") + static_cast<char>(esc_t_number(page)); }

std::string feed(int lines) {
  if (lines <= 0) return {};
  return std::string("\x1B\x64") + static_cast<char>(std::min(lines, 255));
}

std::string cut(Cut cut) {
  switch (cut) {
    case Cut::partial: return std::string(cut_partial);
    case Cut::full: return std::string(cut_full);
    case Cut::none: break;
  }
  return {};
}

std::string buzzer(Buzzer buzzer) {
  switch (buzzer) {
    case Buzzer::esc_b: return std::string(buzz_esc_b);
    case Buzzer::esc_parenteses_a: return std::string(buzz_esc_parenteses_a);
    case Buzzer::bel: return std::string(buzz_bel);
    case Buzzer::none: break;
  }
  return {};
}

std::string text_line(std::string_view cp1252_line, CodePage page, int columns) {
  const std::string text = printable(trim_right(cp1252_line), page);
  const auto width = static_cast<std::size_t>(std::max(columns, 1));
  std::string out;
  std::size_t at = 0;
  do {
    out += std::string_view(text).substr(at, width);
    out += '\n';
    at += width;
  } while (at < text.size());
  return out;
}

std::string big_line(std::string_view cp1252_line, CodePage page, int columns) {
  std::string_view text = cp1252_line;
  const auto is_blank = [](char c) { return c == ' ' || c == '\r'; };
  const auto trim = [&](std::string_view s, bool stars) {
    while (!s.empty() && (is_blank(s.front()) || (stars && s.front() == '*'))) s.remove_prefix(1);
    while (!s.empty() && (is_blank(s.back()) || (stars && s.back() == '*'))) s.remove_suffix(1);
    return s;
  };
  const auto width = static_cast<std::size_t>(std::max(columns / 2, 1));
  text = trim(text, false);
  if (text.size() > width) text = trim(text, true);
  text = text.substr(0, width);
  return std::string(big_on) + printable(text, page) + "\n" + std::string(big_off);
}

}  // namespace escpos

std::string escpos_ticket(std::string_view cp1252_text, const EscPosOptions& options, std::size_t number_line) {
  const std::vector<std::string_view> lines = lines_of(cp1252_text);
  std::string one;
  one += escpos::init;
  one += escpos::code_page(options.code_page);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    one += options.big_number && i == number_line ? escpos::big_line(lines[i], options.code_page, options.columns)
                                                  : escpos::text_line(lines[i], options.code_page, options.columns);
  }
  one += escpos::feed(options.feed_lines);
  one += escpos::cut(options.cut);
  std::string out;
  for (int copy = 0; copy < std::max(options.copies, 1); ++copy) out += one;
  out += escpos::buzzer(options.buzzer);
  return out;
}

}  // namespace kav::platform::print
