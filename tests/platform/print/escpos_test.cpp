#include <gtest/gtest.h>

#include "platform/print/escpos.h"
#include "record/cp1252.h"

namespace kav::platform::print {
namespace {

using namespace std::string_literals;

std::string hex(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// "ã", "ç", "é", "Ã", "Ç", "õ" and the euro sign in each page, from
// Windows-1252.
TEST(CodePages, PortugueseLettersInEachPage) {
  const std::string text = record::cp1252("ãçéÃÇõ€");
  EXPECT_EQ(hex(to_code_page(text, CodePage::cp860)), "84 87 82 8E 80 94 3F");
  EXPECT_EQ(hex(to_code_page(text, CodePage::cp850)), "C6 87 82 C7 80 E4 3F");
  EXPECT_EQ(hex(to_code_page(text, CodePage::cp858)), "C6 87 82 C7 80 E4 D5");
  EXPECT_EQ(hex(to_code_page(text, CodePage::wpc1252)), "E3 E7 E9 C3 C7 F5 80");
  // A character the page lacks prints as '?'; ASCII as it stands.
  EXPECT_EQ(to_code_page(record::cp1252("Œ½ A-z"), CodePage::cp860), "?\xAB A-z");
  EXPECT_EQ(to_code_page("\x81", CodePage::wpc1252), "?");
}

TEST(EscPos, SelectingThePage) {
  EXPECT_EQ(hex(escpos::code_page(CodePage::cp860)), "1B 74 03");
  EXPECT_EQ(hex(escpos::code_page(CodePage::cp850)), "1B 74 02");
  EXPECT_EQ(hex(escpos::code_page(CodePage::cp858)), "1B 74 13");
  EXPECT_EQ(hex(escpos::code_page(CodePage::wpc1252)), "1B 74 10");
}

TEST(EscPos, CutsAndBuzzers) {
  EXPECT_EQ(hex(escpos::cut(Cut::partial)), "1D 56 01");
  EXPECT_EQ(hex(escpos::cut(Cut::full)), "1D 56 00");
  EXPECT_EQ(escpos::cut(Cut::none), "");
  EXPECT_EQ(hex(escpos::buzzer(Buzzer::esc_b)), "1B 42 03 02");
  EXPECT_EQ(hex(escpos::buzzer(Buzzer::esc_parenteses_a)), "1B 28 41 04 00 30 33 03 0A");
  EXPECT_EQ(hex(escpos::buzzer(Buzzer::bel)), "07");
  EXPECT_EQ(escpos::buzzer(Buzzer::none), "");
  EXPECT_EQ(hex(escpos::feed(4)), "1B 64 04");
  EXPECT_EQ(escpos::feed(0), "");
}

TEST(EscPos, LinesAreCutToTheColumnsAndControlsBlanked) {
  EXPECT_EQ(escpos::text_line("abcdefgh   \r", CodePage::cp860, 3), "abc\ndef\ngh\n");
  EXPECT_EQ(escpos::text_line("", CodePage::cp860, 32), "\n");
  EXPECT_EQ(escpos::text_line("a\x1B@b", CodePage::cp860, 32), "a @b\n");  // no command slips in from the text
}

TEST(EscPos, TheNumberLineLarge) {
  const std::string line = "              *** COMANDA 0012 ***";
  EXPECT_EQ(escpos::big_line(line, CodePage::cp860, 48),
            "\x1B\x61\x01\x1D\x21\x11*** COMANDA 0012 ***\n\x1D\x21\x00\x1B\x61\x00"s);
  // 16 characters at double width on 32 columns: the stars go first.
  EXPECT_EQ(escpos::big_line(line, CodePage::cp860, 32),
            "\x1B\x61\x01\x1D\x21\x11" "COMANDA 0012\n\x1D\x21\x00\x1B\x61\x00"s);
}

// A whole ticket, byte for byte: start, page, lines, the number large, feed,
// cut, once per copy, and the buzzer once at the end.
TEST(EscPos, WholeTicketGoldenBytes) {
  const std::string ticket = record::cp1252("*** COMANDA 0012 ***\r\nFeijão\r\nAçúcar\r\n");
  EscPosOptions o;
  EXPECT_EQ(escpos_ticket(ticket, o, 0),
            "\x1B\x40\x1B\x74\x03"
            "\x1B\x61\x01\x1D\x21\x11*** COMANDA 0012 ***\n\x1D\x21\x00\x1B\x61\x00"
            "Feij\x84o\nA\x87\xA3"
            "car\n"
            "\x1B\x64\x04\x1D\x56\x01"s);

  o.code_page = CodePage::wpc1252;
  o.big_number = false;
  o.cut = Cut::full;
  o.feed_lines = 2;
  o.copies = 2;
  o.buzzer = Buzzer::bel;
  const std::string one = "\x1B\x40\x1B\x74\x10*** COMANDA 0012 ***\nFeij\xE3o\nA\xE7\xFA" "car\n\x1B\x64\x02\x1D\x56\x00"s;
  EXPECT_EQ(escpos_ticket(ticket, o, 0), one + one + "\x07");
}

}  // namespace
}  // namespace kav::platform::print
