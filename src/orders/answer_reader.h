// Reading a web answer (GET_KAVCMD.RET) one character at a time.
//
// Records open with "<"; each field is enclosed in "<" and ">" and fields
// follow each other directly. The answer is untrusted input: whatever bytes
// it holds, every read is bounded and ends.
//
// One rule for what the page writes besides its records:
//   - A record starts only where its first field has the shape its layout
//     gives: "<", digits or blanks (a number sent shorter than its width,
//     "<12>", counts), ">". A bill's item code may hold letters: "<PIZ001>",
//     its full width with at least one digit or one capital letter
//     ("<PIZZAS>"; PHP writes its HTML tags in lower case), followed
//     directly by the next field's "<".
//   - Whatever stands between records (text, HTML, control bytes) is passed
//     over and kept, shortened, for the log: the page went on, and the
//     records are whole.
//   - After the last record, more than blanks, line ends, NUL and Ctrl-Z
//     with no end marker means the page may have stopped midway (a fatal
//     error): the answer is damaged. Only PHP's warnings, notices and
//     deprecations (each line "Warning: ... on line N", as text or HTML)
//     say that the script went on: they are passed over as text between
//     records is.
//   - A record that is itself broken (a separator other than the ">" and
//     "<" the layout puts between its fields, a field longer than its width,
//     the answer ending inside it), or something on the way that looks like
//     a record's first field but has not its shape ("<00012>", "<0012" cut
//     short), damages the answer.
// What a damaged answer carries must not be printed as if it were complete.
//
// A fixed field sent shorter than its width ("<4>" for two characters) is
// its characters aligned as the field's numbers are, leading zeros added
// ("04"); a decimal field sent short ("<2,5>") is its integer digits aligned
// to the right and its decimals to the left ("000002500"). A field sent at
// its width keeps the characters sent ("< 4>" stays " 4").
//
// Encoding: an answer that is valid UTF-8 and holds at least one multi-byte
// character, or starts with a UTF-8 byte-order mark, is UTF-8; everything
// else is Windows-1252, as the system's texts are. A UTF-8 answer is
// converted to Windows-1252 here, where its bytes enter the program, so the
// fields' widths count characters and printer names compare as Windows
// names them; a character Windows-1252 lacks becomes "?" and is counted.
// The decision looks at the first kEncodingWindow bytes of the answer.
//
// An answer that follows the layouts, in Windows-1252, is read exactly as by
// a reader that knows none of this: the same characters go into the same
// fields.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace kav::orders {

// The first field of a bill's item records: a code of 6 characters.
inline constexpr std::size_t kBillItemCodeWidth = 6;

class AnswerReader {
 public:
  explicit AnswerReader(platform::TextFile& resposta) : resposta_(resposta) {}

  // One read; a blank at the end of the file.
  char next_char();
  // Reads until a "<" has been read; false at the end of the file. Knows no
  // layout: the commands find their records with skip_to_record.
  bool skip_to_lt();
  // Passes over everything up to the next record whose first field is
  // `first_field` characters wide, and reads its "<": the first field comes
  // next. False at the end of the answer, or when the answer is damaged.
  bool skip_to_record(std::size_t first_field);
  // A fixed field of width n: n reads stored in order; a ">" before the n-th
  // ends the field early (sent short: right-aligned, leading zeros).
  std::string fixed(std::size_t n);
  // A text field of width n: characters up to the closing ">", which is
  // consumed; at most n are stored, the rest of the field stays blank. A
  // value longer than its field is passed over up to and including its ">",
  // so the fields after it stay aligned.
  std::string text(std::size_t n);
  // i integer digits, one separator (read and discarded), d decimal digits:
  // the i+d digits of an unsigned number with d implied decimals.
  std::string decimal(std::size_t i, std::size_t d);
  // k reads whose characters are discarded: the ">" and "<" between fields
  // (a ">" that closed a field sent short counts as read).
  void skip(std::size_t k);

  bool at_end() const { return at_end_; }

  // Where the reading stands, for the reason of a refusal: the record
  // ("cabeçalho", "item 2") and the field being read ("descrição").
  void locate(std::string record) { record_ = std::move(record); }
  void field(std::string_view name) { field_ = name; }
  // Why the answer is damaged, naming the record and field and showing what
  // stood there ("item 2, descrição: '>' dentro do texto"); empty when the
  // answer is whole or only ended inside a record (a cut transfer).
  const std::string& refusal() const { return refusal_; }
  // Damages the answer for a reason found by its reader (an end marker with
  // an order after it).
  void refuse(std::string why);

  // After an end marker's field: whether an order follows it in the same
  // answer, so that it ends nothing: the marker's own record goes on with a
  // further field, or a later record opens whose first field (`width` wide)
  // is no end marker. Reads the rest of the answer; what the reader reports
  // of it (text passed over, damage) stays as it stood at the marker.
  bool order_follows_marker(std::size_t width);
  // A new answer has been opened.
  void restart();

  // A record was found in this answer (an end marker counts).
  bool found_record() const { return found_record_; }
  // The answer broke the rule above.
  bool damaged() const { return damaged_; }
  // Whether an item numbered or coded as an end marker ends the items (it
  // does, unless an answer kept aside is printed as far as it reads: then
  // an order numbered 0000 or 9999 is read as any other).
  bool markers_end() const { return markers_end_; }
  void set_markers_end(bool on) { markers_end_ = on; }
  // Something other than blanks was passed over, or the answer is damaged:
  // there is something to report.
  bool has_odd_text() const { return odd_ || damaged_; }
  // What was passed over (before the first record and between records), and
  // what stood where the layout has no place for it (from the point of
  // damage on): each part kept up to kKeptBytes, control characters blanked.
  const std::string& leading_text() const { return leading_; }
  const std::string& inner_text() const { return inner_; }

  // The answer is read as UTF-8; how many of its characters Windows-1252
  // lacks (each read as "?"), and the first of them.
  bool utf8() const { return utf8_; }
  std::size_t unmappable() const { return unmappable_; }
  char32_t first_unmappable() const { return first_unmappable_; }

  static constexpr std::size_t kKeptBytes = 512;
  static constexpr std::size_t kEncodingWindow = 1 << 20;

 private:
  // What the layout says the next discarded characters are.
  enum class Expect { nothing, gt_then_lt, lt };

  bool read_raw(char& c);
  bool read_decoded(char& c);
  bool read_byte(unsigned char& b);
  void decide_encoding();
  void push_back(std::string_view chars);
  bool first_field_follows(std::size_t width);
  bool looks_like_field(std::size_t width);
  void mark_damaged();
  void note_refusal(std::string what);

  platform::TextFile& resposta_;
  bool at_end_ = false;
  std::string ahead_;  // characters read ahead to see a record's first field
  std::size_t ahead_pos_ = 0;
  Expect expect_ = Expect::nothing;
  bool close_read_ = false;    // the ">" of the last fixed field ended it early
  bool found_record_ = false;  // a record has started in this answer
  bool in_record_ = false;     // between a record's start and the next skip to a record
  bool damaged_ = false;
  bool markers_end_ = true;
  bool odd_ = false;
  std::string leading_;
  std::string inner_;
  std::string record_;
  std::string field_;
  std::string refusal_;
  enum class Kind { none, fixed, text, decimal };
  Kind last_ = Kind::none;  // the kind of the field read last
  std::size_t last_width_ = 0;

  bool decided_ = false;
  bool utf8_ = false;
  std::string head_;  // the first bytes of the answer, read to decide its encoding
  std::size_t head_pos_ = 0;
  bool head_is_all_ = false;  // the answer ends within head_
  bool byte_back_ = false;    // one byte given back to read_byte
  unsigned char back_ = 0;
  std::size_t unmappable_ = 0;
  char32_t first_unmappable_ = 0;
};

// Text after an answer's last record that PHP writes only when the script
// goes on: every line, its HTML tags dropped, blank, or a warning, notice or
// deprecation ("Warning: ... on line 3"; also "Notice:", "Deprecated:",
// "Strict Standards:").
bool is_php_warning_text(std::string_view raw);

// An end marker in the first field of a record: every character a zero digit
// or a blank, or every character a nine.
bool is_end_marker(std::string_view field);

// The odd text of an answer as one line for the log, at most `width`
// characters: HTML tags dropped, control characters blanked, runs of blanks
// made one, "..." where it was cut. The leading text comes first, then the
// text from the damage, separated by " / ".
std::string shortened(std::string_view leading, std::string_view inner, std::size_t width);

// "U+00E3" for a code point.
std::string code_point_name(char32_t cp);

}  // namespace kav::orders
