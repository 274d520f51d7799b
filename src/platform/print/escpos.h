// A ticket in ESC/POS, the command language of receipt printers: the bytes
// that go to the printer as they stand (a raw spooler job, or a network
// printer's port).
//
// For each copy:
//   ESC @                 1B 40          initialise the printer
//   ESC t n               1B 74 n        the code page (code_pages.h)
//   each line, blanks at its end dropped, cut into pieces of the printer's
//   columns, each ended by LF (0A); control bytes in the text print as blanks
//   the order number's line, when asked for large:
//   ESC a 1, GS ! 0x11    1B 61 01 1D 21 11   centred, double width and height
//   the text, LF, then GS ! 0, ESC a 0          back to normal size and left
//   ESC d n               1B 64 n        feed n lines before the cut (n > 0)
//   GS V 1 | GS V 0       1D 56 01 | 1D 56 00   partial or full cut (none: nothing)
// then, once after the last copy, the buzzer:
//   esc-b                 1B 42 03 02              ESC B: three beeps of 100 ms
//   esc-parenteses-a      1B 28 41 04 00 30 33 03 0A   ESC ( A: pattern 3, three times
//   bel                   07
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/print/code_pages.h"

namespace kav::platform::print {

enum class Cut { partial, full, none };
enum class Buzzer { none, esc_b, esc_parenteses_a, bel };

struct EscPosOptions {
  int columns = 48;
  CodePage code_page = CodePage::cp860;
  Cut cut = Cut::partial;
  int feed_lines = 4;  // fed before the cut
  Buzzer buzzer = Buzzer::none;
  bool big_number = true;
  int copies = 1;
};

inline constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

namespace escpos {
using namespace std::string_view_literals;
inline constexpr std::string_view init = "\x1B\x40"sv;
inline constexpr std::string_view big_on = "\x1B\x61\x01\x1D\x21\x11"sv;
inline constexpr std::string_view big_off = "\x1D\x21\x00\x1B\x61\x00"sv;
inline constexpr std::string_view cut_partial = "\x1D\x56\x01"sv;
inline constexpr std::string_view cut_full = "\x1D\x56\x00"sv;
inline constexpr std::string_view buzz_esc_b = "\x1B\x42\x03\x02"sv;
inline constexpr std::string_view buzz_esc_parenteses_a = "\x1B\x28\x41\x04\x00\x30\x33\x03\x0A"sv;
inline constexpr std::string_view buzz_bel = "\x07"sv;
// ESC t n
std::string code_page(CodePage page);
// ESC d n (nothing for 0)
std::string feed(int lines);
std::string cut(Cut cut);
std::string buzzer(Buzzer buzzer);
// One line of Windows-1252 text, in the page, cut to `columns` a piece, each
// piece ended by LF.
std::string text_line(std::string_view cp1252_line, CodePage page, int columns);
// The same, centred at double width and height (at most columns / 2
// characters: stars and blanks at its ends go first, then what is over).
std::string big_line(std::string_view cp1252_line, CodePage page, int columns);
}  // namespace escpos

// The whole ticket (Windows-1252 text, lines ended by LF or CR LF), copies,
// cut and buzzer included. `number_line` is the index of the line with the
// order number, printed large when the options ask for it (kNoLine: none).
std::string escpos_ticket(std::string_view cp1252_text, const EscPosOptions& options,
                          std::size_t number_line = kNoLine);

}  // namespace kav::platform::print
