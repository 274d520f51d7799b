// Reading a web answer (GET_KAVCMD.RET) one character at a time.
//
// Records open with "<"; each field is enclosed in "<" and ">" and fields
// follow each other directly. The answer is untrusted input: whatever bytes
// it holds, every read is bounded and ends.
//
// A record starts only where its first field has the shape its layout gives:
// "<", the field's width in digits or blanks, ">". Anything else on the way
// to a record (a web server's or a page's own output, HTML included) is
// passed over and kept, shortened, for the log. Once the first record has
// started, the answer must follow its layout to the end of what the command
// reads: the characters the reader discards between fields must be the ">"
// and "<" the layout puts there, the answer must not end inside a record,
// and between records and after the last one only line ends and blanks may
// stand. An answer that breaks this is damaged: the page's output ran into
// it, and what it carries must not be printed as if it were complete.
//
// An answer that follows the layouts is read exactly as by a reader that
// knows none of this: the same characters go into the same fields.
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
  // Reads until a "<" has been read; false at the end of the file. Knows no
  // layout: the commands find their records with skip_to_record.
  bool skip_to_lt();
  // Passes over everything up to a "<" followed by `first_field` digits or
  // blanks and a ">", and reads that "<": the first field of a record comes
  // next. False at the end of the file.
  bool skip_to_record(std::size_t first_field);
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
  // k reads whose characters are discarded: the ">" and "<" between fields.
  void skip(std::size_t k);

  bool at_end() const { return at_end_; }
  // A new answer has been opened.
  void restart();

  // The answer broke its layout after its first record had started.
  bool damaged() const { return damaged_; }
  // Something other than line ends and blanks was passed over, or the answer
  // is damaged: there is something to report.
  bool has_odd_text() const { return odd_ || damaged_; }
  // What was passed over before the first record, and what stood where the
  // layout has no place for it after that (from the point of damage on):
  // raw bytes, each part kept up to kKeptBytes.
  const std::string& leading_text() const { return leading_; }
  const std::string& inner_text() const { return inner_; }

  static constexpr std::size_t kKeptBytes = 512;

 private:
  // What the layout says the next discarded characters are.
  enum class Expect { nothing, gt_then_lt, lt };

  bool read_raw(char& c);
  void push_back(std::string_view chars);
  bool first_field_follows(std::size_t width);
  void mark_damaged();
  void keep(char c);

  platform::TextFile& resposta_;
  bool at_end_ = false;
  std::string ahead_;  // characters read ahead to see a record's first field
  std::size_t ahead_pos_ = 0;
  Expect expect_ = Expect::nothing;
  bool found_record_ = false;  // a record has started in this answer
  bool in_record_ = false;     // between a record's start and the next skip to a record
  bool damaged_ = false;
  bool odd_ = false;
  std::string leading_;
  std::string inner_;
};

// An end marker in the first field of a record: every character a zero digit
// or a blank, or every character a nine.
bool is_end_marker(std::string_view field);

// The odd text of an answer as one line for the log, at most `width`
// characters: HTML tags dropped, control characters blanked, runs of blanks
// made one, "..." where it was cut. The leading text comes first, then the
// text from the damage, separated by " / ".
std::string shortened(std::string_view leading, std::string_view inner, std::size_t width);

}  // namespace kav::orders
