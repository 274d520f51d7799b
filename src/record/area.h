// Fixed-width records of Windows-1252 bytes.
//
// Every record of the system is a run of single-byte characters described by
// 1-based positions and widths. Moving text into a field follows one rule:
// the text is left-aligned, blank-filled on the right and cut on the right.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kav::record {

// A field of a record: 1-based position and width in characters.
struct Field {
  std::size_t pos;
  std::size_t width;
  constexpr std::size_t end() const { return pos + width - 1; }  // last position
};

// `text` placed in `width` characters: left-aligned, blank-filled, cut.
std::string padded(std::string_view text, std::size_t width);

// True when every character is a blank (an empty text counts as blank).
bool is_blank(std::string_view text);

// `text` without its trailing blanks.
std::string_view trim_right(std::string_view text);

// `text` with every control character (0x00-0x1F and 0x7F) written as a
// blank, so that a field can never break or garble the line it is put on.
std::string blank_controls(std::string_view text);

// A record area of fixed length. Reads and moves outside the area are cut to
// it, so a layout mistake can never write outside the record.
class Area {
 public:
  explicit Area(std::size_t length, char fill = ' ') : bytes_(length, fill) {}

  std::size_t size() const { return bytes_.size(); }
  std::string_view bytes() const { return bytes_; }
  std::string& raw() { return bytes_; }

  std::string_view get(Field f) const;
  void set(Field f, std::string_view text);  // the move rule
  void fill(char c = ' ');                   // the whole area
  void fill(Field f, char c);                // one field

  // Replaces every `from` in the whole area by `to`.
  void replace_all(char from, char to);

 private:
  std::string bytes_;
};

}  // namespace kav::record
