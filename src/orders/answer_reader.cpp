#include "orders/answer_reader.h"

#include <algorithm>

#include "platform/file_status.h"
#include "record/digits.h"

namespace kav::orders {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Appends `c` to `kept` with control characters blanked and runs of blanks
// made one, up to `limit` bytes.
void append_blanked(std::string& kept, char c, std::size_t limit) {
  if (kept.size() >= limit) return;
  if (is_control(c)) c = ' ';
  if (c == ' ' && !kept.empty() && kept.back() == ' ') return;
  kept += c;
}

// Tags inside a line of text, dropped without a blank in their place.
bool is_inline_tag(std::string_view name) {
  for (const std::string_view t : {"a", "b", "code", "em", "font", "i", "span", "strong", "u"}) {
    if (name.size() == t.size() && std::equal(name.begin(), name.end(), t.begin(), [](char x, char y) {
          return (x | 0x20) == y;
        }))
      return true;
  }
  return false;
}

// HTML tags dropped ("<b>" and "</b>" without a trace, "<br />" and other
// tags leaving a blank), blanks made one, trimmed.
std::string cleaned(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '<') {
      std::size_t j = i + 1;
      if (j < raw.size() && raw[j] == '/') ++j;
      if (j < raw.size() && is_letter(raw[j])) {
        const std::size_t close = raw.find_first_of("<>", j);
        if (close != std::string_view::npos && raw[close] == '>' && close - i <= 64) {
          std::size_t name_end = j;
          while (name_end < close && is_letter(raw[name_end])) ++name_end;
          if (!is_inline_tag(raw.substr(j, name_end - j)) && !out.empty() && out.back() != ' ') out += ' ';
          i = close;
          continue;
        }
      }
    }
    const char c = is_control(raw[i]) ? ' ' : raw[i];
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string cut(std::string s, std::size_t width) {
  if (s.size() <= width) return s;
  if (width <= 3) return s.substr(0, width);
  return s.substr(0, width - 3) + "...";
}

}  // namespace

bool AnswerReader::read_raw(char& c) {
  if (ahead_pos_ < ahead_.size()) {
    c = ahead_[ahead_pos_++];
    return true;
  }
  ahead_.clear();
  ahead_pos_ = 0;
  return resposta_.read_char(c) == platform::status::ok;
}

void AnswerReader::push_back(std::string_view chars) {
  ahead_ = std::string(chars) + ahead_.substr(ahead_pos_);
  ahead_pos_ = 0;
}

void AnswerReader::keep(char c) { append_blanked(found_record_ ? inner_ : leading_, c, kKeptBytes); }

// From the damage on, the rest of the answer matters only to the log: what
// follows is read into it now, up to its limit.
void AnswerReader::mark_damaged() {
  if (damaged_) return;
  damaged_ = true;
  char c = ' ';
  while (inner_.size() < kKeptBytes && read_raw(c)) keep(c);
}

void AnswerReader::restart() {
  at_end_ = false;
  ahead_.clear();
  ahead_pos_ = 0;
  expect_ = Expect::nothing;
  found_record_ = in_record_ = damaged_ = odd_ = false;
  leading_.clear();
  inner_.clear();
}

char AnswerReader::next_char() {
  char c = ' ';
  if (at_end_ || !read_raw(c)) {
    at_end_ = true;
    if (in_record_) mark_damaged();  // the answer ended inside a record
    return ' ';
  }
  if (damaged_) keep(c);
  return c;
}

bool AnswerReader::skip_to_lt() {
  while (!at_end_) {
    if (next_char() == '<' && !at_end_) return true;
  }
  return false;
}

bool AnswerReader::first_field_follows(std::size_t width) {
  std::string seen;
  bool shaped = true;
  for (std::size_t i = 0; i <= width && shaped; ++i) {
    char c = ' ';
    if (!read_raw(c)) {
      shaped = false;
      break;
    }
    seen += c;
    shaped = i < width ? (c == ' ' || (c >= '0' && c <= '9')) : c == '>';
  }
  push_back(seen);
  return shaped;
}

bool AnswerReader::skip_to_record(std::size_t first_field) {
  const bool closing = in_record_ && expect_ == Expect::gt_then_lt;
  in_record_ = false;
  expect_ = Expect::nothing;
  if (at_end_) return false;
  char c = ' ';
  // A record whose last field is fixed or decimal still has that field's ">".
  if (closing) {
    if (!read_raw(c)) {
      at_end_ = true;
      mark_damaged();
      return false;
    }
    if (c != '>') {
      push_back(std::string_view(&c, 1));
      mark_damaged();
    }
  }
  for (;;) {
    if (!read_raw(c)) {
      at_end_ = true;
      return false;
    }
    if (c == '<' && first_field_follows(first_field)) {
      found_record_ = in_record_ = true;
      return true;
    }
    if (!found_record_ || damaged_) {
      keep(c);
    } else if (!is_blank(c)) {
      keep(c);
      mark_damaged();  // output between records: the page ran into its own answer
    }
    if (!is_blank(c)) odd_ = true;
  }
}

std::string AnswerReader::fixed(std::size_t n) {
  std::string field(n, ' ');
  for (char& c : field) c = next_char();
  expect_ = Expect::gt_then_lt;
  return field;
}

std::string AnswerReader::text(std::size_t n) {
  std::string field(n, ' ');
  std::size_t stored = 0;
  expect_ = Expect::lt;
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
  for (std::size_t n = 0; n < k; ++n) {
    const char c = next_char();
    if (!in_record_ || at_end_) continue;
    const Expect expected = expect_;
    expect_ = expected == Expect::gt_then_lt ? Expect::lt : Expect::nothing;
    if ((expected == Expect::gt_then_lt && c != '>') || (expected == Expect::lt && c != '<')) {
      if (!damaged_) keep(c);
      mark_damaged();
    }
  }
}

bool is_end_marker(std::string_view field) {
  return record::is_zero_field(field) ||
         (!field.empty() && std::all_of(field.begin(), field.end(), [](char c) { return c == '9'; }));
}

std::string shortened(std::string_view leading, std::string_view inner, std::size_t width) {
  std::string a = cleaned(leading), b = cleaned(inner);
  if (a.empty()) return cut(std::move(b), width);
  if (b.empty()) return cut(std::move(a), width);
  constexpr std::string_view kJoin = " / ";
  if (width <= kJoin.size() + 2) return cut(a, width);
  const std::size_t room = width - kJoin.size();
  std::size_t for_a = std::min(a.size(), room / 2);
  if (b.size() < room - for_a) for_a = std::min(a.size(), room - b.size());
  return cut(std::move(a), for_a) + std::string(kJoin) + cut(std::move(b), room - for_a);
}

}  // namespace kav::orders
