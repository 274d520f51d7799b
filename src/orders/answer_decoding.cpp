// The answer's characters: its encoding decided from its first bytes
// (UTF-8 or Windows-1252), each character read in Windows-1252, and the
// characters read ahead and put back.
#include "orders/answer_reader.h"

#include "platform/status.h"
#include "record/cp1252.h"

namespace kav::orders {

namespace {

// A UTF-8 sequence at `s[i]`: its length with its code point in `cp`, 0 when
// it is malformed (overlong forms, surrogates and code points past U+10FFFF
// included), -1 when `s` ends inside it.
int utf8_sequence(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  int extra = 0;
  char32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1, min = 0x80, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2, min = 0x800, cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3, min = 0x10000, cp = b & 0x07;
  } else {
    return 0;
  }
  for (int k = 1; k <= extra; ++k) {
    if (i + static_cast<std::size_t>(k) >= s.size()) return -1;
    const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return extra + 1;
}

constexpr std::string_view kBom = "\xEF\xBB\xBF";

}  // namespace

std::string code_point_name(char32_t cp) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string digits;
  for (char32_t v = cp; v != 0 || digits.size() < 4; v >>= 4) digits.insert(digits.begin(), kHex[v & 0xF]);
  return "U+" + digits;
}

bool AnswerReader::read_byte(unsigned char& b) {
  if (byte_back_) {
    byte_back_ = false;
    b = back_;
    return true;
  }
  if (head_pos_ < head_.size()) {
    b = static_cast<unsigned char>(head_[head_pos_++]);
    return true;
  }
  if (head_is_all_) return false;
  char c = 0;
  if (!resposta_.read_char(c).ok()) return false;
  b = static_cast<unsigned char>(c);
  return true;
}

// Valid UTF-8 with a multi-byte character in the window (a sequence cut by
// the window's end counts as valid when the answer goes on), or a BOM.
void AnswerReader::decide_encoding() {
  decided_ = true;
  char c = 0;
  while (head_.size() < kEncodingWindow && resposta_.read_char(c).ok()) head_ += c;
  head_is_all_ = head_.size() < kEncodingWindow;
  if (head_.starts_with(kBom)) {
    utf8_ = true;
    head_pos_ = kBom.size();
    return;
  }
  bool multi = false;
  for (std::size_t i = 0; i < head_.size();) {
    char32_t cp = 0;
    const int n = utf8_sequence(head_, i, cp);
    if (n == 0 || (n < 0 && head_is_all_)) return;
    if (n < 0) break;
    multi = multi || n > 1;
    i += static_cast<std::size_t>(n);
  }
  utf8_ = multi;
}

// One character of the answer, in Windows-1252.
bool AnswerReader::read_decoded(char& c) {
  if (!decided_) decide_encoding();
  unsigned char b = 0;
  if (!read_byte(b)) return false;
  if (!utf8_ || b < 0x80) {
    c = static_cast<char>(b);
    return true;
  }
  std::string seq(1, static_cast<char>(b));
  char32_t cp = 0;
  int n = utf8_sequence(seq, 0, cp);
  while (n < 0) {  // more bytes of the sequence
    unsigned char more = 0;
    if (!read_byte(more)) break;
    seq += static_cast<char>(more);
    n = utf8_sequence(seq, 0, cp);
    if (n == 0) {  // not a continuation: it starts the next character
      byte_back_ = true;
      back_ = more;
    }
  }
  if (n <= 0) cp = 0xFFFD;  // malformed (only past the window, or after a BOM)
  if (n <= 0 || !record::cp1252_of(cp, c)) {
    if (unmappable_++ == 0) first_unmappable_ = cp;
    c = '?';
  }
  return true;
}

bool AnswerReader::read_raw(char& c) {
  if (ahead_pos_ < ahead_.size()) {
    c = ahead_[ahead_pos_++];
    return true;
  }
  ahead_.clear();
  ahead_pos_ = 0;
  return read_decoded(c);
}

void AnswerReader::push_back(std::string_view chars) {
  ahead_ = std::string(chars) + ahead_.substr(ahead_pos_);
  ahead_pos_ = 0;
}

}  // namespace kav::orders
