// Reading a web answer (GET_KAVCMD.RET) one character at a time.
//
// Records open with "<"; each field is enclosed in "<" and ">" and fields
// follow each other directly. Only the skip to "<" looks for the end of the
// file; a read past the end inside a record gives a blank, so a record cut
// short leaves blanks. The answer is untrusted input: whatever bytes it
// holds, every read is bounded and ends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace kav::orders {

class AnswerReader {
 public:
  explicit AnswerReader(platform::TextFile& resposta) : resposta_(resposta) {}

  // One read; a blank at the end of the file.
  char next_char();
  // Reads until a "<" has been read; false at the end of the file.
  bool skip_to_lt();
  // n reads, stored in order.
  std::string fixed(std::size_t n);
  // A text field of width n: characters up to the closing ">", which is
  // consumed; at most n are stored, the rest of the field stays blank. A
  // value longer than its field is passed over up to and including its ">",
  // so the fields after it stay aligned.
  std::string text(std::size_t n);
  // i integer digits, one separator (read and discarded), d decimal digits:
  // the i+d digits of an unsigned number with d implied decimals.
  std::string decimal(std::size_t i, std::size_t d);
  // k reads whose characters are discarded.
  void skip(std::size_t k);

  bool at_end() const { return at_end_; }
  // A new answer has been opened.
  void restart() { at_end_ = false; }

 private:
  platform::TextFile& resposta_;
  bool at_end_ = false;
};

// An end marker in the first field of a record: every character a zero digit
// or a blank, or every character a nine.
bool is_end_marker(std::string_view field);

}  // namespace kav::orders
