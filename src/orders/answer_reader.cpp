#include "orders/answer_reader.h"

#include <algorithm>

#include "platform/status.h"
#include "record/cp1252.h"
#include "record/digits.h"

namespace kav::orders {

namespace {

// What may stand between and after records unnoticed: blanks, line ends, and
// the NUL and Ctrl-Z bytes some pages and file copies pad with.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0' || c == '\x1a'; }
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


bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_digit(c) || is_letter(c); }

// What stood at the point of damage, as a refusal shows it.
std::string snippet(std::string_view kept) {
  std::string shown(1, '\'');
  shown += cut(cleaned(kept), 30);
  shown += '\'';
  return shown;
}

// How much text after the last record is looked at for PHP's warnings.
constexpr std::size_t kTailBytes = 8192;

bool starts_with_word(std::string_view line, std::string_view word) {
  return line.size() >= word.size() && std::equal(word.begin(), word.end(), line.begin());
}

// One line of PHP's output, its tags dropped: a warning, notice or
// deprecation, ending with the line it names.
bool is_php_warning_line(std::string_view line) {
  bool kind = false;
  for (const std::string_view w : {"Warning: ", "Notice: ", "Deprecated: ", "Strict Standards: "}) {
    kind = kind || starts_with_word(line, w);
  }
  if (!kind) return false;
  const std::size_t at = line.rfind(" on line ");
  if (at == std::string_view::npos) return false;
  const std::string_view number = line.substr(at + 9);
  return !number.empty() && std::all_of(number.begin(), number.end(), is_digit);
}

}  // namespace

bool is_php_warning_text(std::string_view raw) {
  bool any = false;
  for (std::size_t at = 0; at <= raw.size();) {
    std::size_t end = raw.find('\n', at);
    if (end == std::string_view::npos) end = raw.size();
    const std::string line = cleaned(raw.substr(at, end - at));
    if (!line.empty()) {
      if (!is_php_warning_line(line)) return false;
      any = true;
    }
    at = end + 1;
  }
  return any;
}

// From the damage on, the rest of the answer matters only to the log: what
// follows is read into it now, up to its limit.
void AnswerReader::mark_damaged() {
  if (damaged_) return;
  damaged_ = true;
  char c = ' ';
  while (inner_.size() < kKeptBytes && read_raw(c)) append_blanked(inner_, c, kKeptBytes);
}

// Why the answer broke, where the reading stands, once: the first damage is
// the one to mend.
void AnswerReader::note_refusal(std::string what) {
  if (!refusal_.empty()) return;
  refusal_ = record_.empty() ? std::string("registro") : record_;
  if (!field_.empty()) refusal_ += ", " + field_;
  refusal_ += ": " + what;
}

void AnswerReader::refuse(std::string why) {
  if (damaged_) return;
  damaged_ = true;
  refusal_ = std::move(why);
}

bool AnswerReader::order_follows_marker(std::size_t width) {
  const bool damaged = damaged_, odd = odd_;
  const std::string leading = leading_, inner = inner_, refusal = refusal_;
  // The ">" of the field just read (its shape was checked), then a "<" at
  // once: the record goes on.
  auto goes_on = [&] {
    char c = ' ';
    if (!close_read_ && !(read_raw(c) && c == '>')) return false;
    close_read_ = false;
    if (!read_raw(c)) return false;
    if (c == '<') return true;
    push_back(std::string_view(&c, 1));
    return false;
  };
  bool follows = goes_on();
  in_record_ = false;
  expect_ = Expect::nothing;
  while (!follows && !damaged_ && skip_to_record(width)) {
    follows = !is_end_marker(fixed(width)) || goes_on();
    in_record_ = false;
    expect_ = Expect::nothing;
  }
  damaged_ = damaged, odd_ = odd;
  leading_ = leading, inner_ = inner, refusal_ = refusal;
  return follows;
}

void AnswerReader::restart() {
  at_end_ = false;
  ahead_.clear();
  ahead_pos_ = 0;
  expect_ = Expect::nothing;
  close_read_ = false;
  found_record_ = in_record_ = damaged_ = odd_ = false;
  leading_.clear();
  inner_.clear();
  record_.clear();
  field_.clear();
  refusal_.clear();
  last_ = Kind::none;
  decided_ = utf8_ = head_is_all_ = byte_back_ = false;
  head_.clear();
  head_pos_ = 0;
  unmappable_ = 0;
  first_unmappable_ = 0;
}

char AnswerReader::next_char() {
  char c = ' ';
  if (at_end_ || !read_raw(c)) {
    at_end_ = true;
    if (in_record_) mark_damaged();  // the answer ended inside a record
    return ' ';
  }
  if (damaged_) append_blanked(inner_, c, kKeptBytes);
  return c;
}

bool AnswerReader::skip_to_lt() {
  while (!at_end_) {
    if (next_char() == '<' && !at_end_) return true;
  }
  return false;
}

// After a "<": digits or blanks up to `width` and a ">" (fewer than `width`
// only with a digit among them: "<12>", never "< >"); or, for a bill's item
// code, `width` letters and digits with a digit among them, its ">" and the
// next field's "<".
bool AnswerReader::first_field_follows(std::size_t width) {
  std::string seen;
  bool shaped = false;
  bool letters = false, digit = false, capital = false;
  char c = ' ';
  while (read_raw(c)) {
    seen += c;
    if (c == '>') {
      const std::size_t k = seen.size() - 1;
      shaped = k == width || (k > 0 && digit && !letters);
      if (shaped && letters) shaped = read_raw(c) && (seen += c, c == '<');
      break;
    }
    if (seen.size() > width) break;
    if (is_digit(c)) {
      digit = true;
    } else if (is_letter(c) && width == kBillItemCodeWidth) {
      letters = true;
      capital = capital || (c >= 'A' && c <= 'Z');
    } else if (c != ' ') {
      break;
    }
  }
  if (letters && !digit && !capital) shaped = false;
  push_back(seen);
  return shaped;
}

// After a "<" that opens no record: something a page writes only as a
// record's field, a digit first ("<00012>", "<0012" cut short), or a code of
// letters and digits closed and followed by the next field ("<P1><").
bool AnswerReader::looks_like_field(std::size_t width) {
  std::string seen;
  char c = ' ';
  bool like = false, digit = false;
  while (read_raw(c)) {
    seen += c;
    if (seen.size() == 1 && is_digit(c)) {
      like = true;
      break;
    }
    if (is_alnum(c)) {
      digit = digit || is_digit(c);
      if (seen.size() > width + 2) break;
      continue;
    }
    if (c == '>' && seen.size() > 1 && digit) like = read_raw(c) && (seen += c, c == '<');
    break;
  }
  push_back(seen);
  return like;
}

bool AnswerReader::skip_to_record(std::size_t first_field) {
  const bool closing = in_record_ && expect_ == Expect::gt_then_lt && !close_read_;
  in_record_ = close_read_ = false;
  expect_ = Expect::nothing;
  if (at_end_ || damaged_) return false;
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
      note_refusal("mais de " + std::to_string(last_width_) + " caracteres: " + snippet(inner_));
      return false;
    }
  }
  // What stands before the next record: between records it is passed over;
  // after the last one it is the end of a page that may have stopped midway.
  std::string passed;
  std::string tail;  // the same, as it stands, for PHP's warnings
  bool odd = false;
  auto pass_over = [&] {
    if (!odd) return;
    odd_ = true;
    if (!leading_.empty() && passed.front() != ' ') append_blanked(leading_, ' ', kKeptBytes);
    for (char p : passed) append_blanked(leading_, p, kKeptBytes);
  };
  for (;;) {
    if (!read_raw(c)) {
      at_end_ = true;
      if (odd && found_record_ && (tail.size() >= kTailBytes || !is_php_warning_text(tail))) {
        inner_ = passed;
        damaged_ = true;
        refusal_ = record::cp1252("texto após o último registro: ") + snippet(passed);
      } else {
        pass_over();
      }
      return false;
    }
    if (c == '<') {
      if (first_field_follows(first_field)) {
        pass_over();
        found_record_ = in_record_ = true;
        return true;
      }
      if (looks_like_field(first_field)) {  // a record that is itself broken
        pass_over();
        inner_.assign(1, '<');
        mark_damaged();
        refusal_ = record_.empty() ? std::string() : "depois do " + record_ + ": ";
        refusal_ += "registro fora do layout: " + snippet(inner_);
        return false;
      }
    }
    append_blanked(passed, c, kKeptBytes);
    if (tail.size() < kTailBytes) tail += c;
    if (!is_blank(c)) odd = true;
  }
}

std::string AnswerReader::fixed(std::size_t n) {
  last_ = Kind::fixed, last_width_ = n;
  std::string field;
  close_read_ = false;
  while (field.size() < n) {
    const char c = next_char();
    if (at_end_) {
      field.resize(n, ' ');
      break;
    }
    if (c == '>') {  // sent short: aligned as the field's numbers are
      close_read_ = true;
      field.insert(0, n - field.size(), '0');
      break;
    }
    field += c;
  }
  expect_ = Expect::gt_then_lt;
  return field;
}

std::string AnswerReader::text(std::size_t n) {
  last_ = Kind::text, last_width_ = n;
  std::string field(n, ' ');
  std::size_t stored = 0;
  expect_ = Expect::lt;
  close_read_ = false;
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

// Sent at its width: i characters, the separator, d characters. Sent short
// (its ">" comes sooner): the integer digits before the last character that
// is not a digit or a blank, the decimals after it; a part wider than its
// digits damages the answer, as a field longer than its width does.
std::string AnswerReader::decimal(std::size_t i, std::size_t d) {
  last_ = Kind::decimal, last_width_ = i + 1 + d;
  std::string sent;
  close_read_ = false;
  while (sent.size() < i + 1 + d) {
    const char c = next_char();
    if (at_end_) break;
    if (c == '>') {
      close_read_ = true;
      break;
    }
    sent += c;
  }
  expect_ = Expect::gt_then_lt;
  if (!close_read_) {
    sent.resize(i + 1 + d, ' ');
    return sent.substr(0, i) + sent.substr(i + 1);
  }
  const std::size_t sep = sent.find_last_not_of("0123456789 ");
  std::string whole = sent.substr(0, sep == std::string::npos ? sent.size() : sep);
  std::string fraction = sep == std::string::npos ? std::string() : sent.substr(sep + 1);
  if (whole.size() > i || fraction.size() > d) {
    note_refusal("'" + sent + record::cp1252("' maior que o campo (") + std::to_string(i) + "," + std::to_string(d) +
                 ")");
    mark_damaged();
    whole.resize(std::min(whole.size(), i));
    fraction.resize(std::min(fraction.size(), d));
  }
  return std::string(i - whole.size(), '0') + whole + fraction + std::string(d - fraction.size(), '0');
}

void AnswerReader::skip(std::size_t k) {
  for (std::size_t n = 0; n < k; ++n) {
    if (expect_ == Expect::gt_then_lt && close_read_) {  // that ">" ended the field
      close_read_ = false;
      expect_ = Expect::lt;
      continue;
    }
    const char c = next_char();
    if (!in_record_ || at_end_) continue;
    const Expect expected = expect_;
    expect_ = expected == Expect::gt_then_lt ? Expect::lt : Expect::nothing;
    if ((expected == Expect::gt_then_lt && c != '>') || (expected == Expect::lt && c != '<')) {
      if (damaged_) continue;
      append_blanked(inner_, c, kKeptBytes);
      mark_damaged();
      if (expected == Expect::gt_then_lt) {
        note_refusal("mais de " + std::to_string(last_width_) + " caracteres: " + snippet(inner_));
      } else if (c == '\r' || c == '\n') {
        note_refusal("registro interrompido: " + snippet(inner_));
      } else if (last_ == Kind::text) {
        note_refusal("'>' dentro do texto: " + snippet(inner_));
      } else {
        std::string what(1, '\'');
        what += c;
        what += "' onde se esperava '<'";
        note_refusal(what);
      }
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
