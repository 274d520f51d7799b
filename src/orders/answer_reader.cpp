#include "orders/answer_reader.h"

#include <algorithm>

#include "platform/file_status.h"
#include "record/digits.h"

namespace kav::orders {

char AnswerReader::next_char() {
  char c = ' ';
  if (at_end_ || resposta_.read_char(c) != platform::status::ok) {
    at_end_ = true;
    return ' ';
  }
  return c;
}

bool AnswerReader::skip_to_lt() {
  while (!at_end_) {
    if (next_char() == '<' && !at_end_) return true;
  }
  return false;
}

std::string AnswerReader::fixed(std::size_t n) {
  std::string field(n, ' ');
  for (char& c : field) c = next_char();
  return field;
}

std::string AnswerReader::text(std::size_t n) {
  std::string field(n, ' ');
  std::size_t stored = 0;
  while (stored < n) {
    const char c = next_char();
    if (c == '>' || at_end_) return field;
    field[stored++] = c;
  }
  // The field is full: the next character should be its closing ">".
  while (!at_end_ && next_char() != '>') {
  }
  return field;
}

std::string AnswerReader::decimal(std::size_t i, std::size_t d) {
  std::string digits = fixed(i);
  next_char();  // the decimal separator, whatever it is
  digits += fixed(d);
  return digits;
}

void AnswerReader::skip(std::size_t k) {
  for (std::size_t n = 0; n < k; ++n) next_char();
}

bool is_end_marker(std::string_view field) {
  return record::is_zero_field(field) ||
         (!field.empty() && std::all_of(field.begin(), field.end(), [](char c) { return c == '9'; }));
}

}  // namespace kav::orders
