#include <gtest/gtest.h>

#include "record/area.h"
#include "record/cp1252.h"
#include "record/digits.h"
#include "record/letter_case.h"

namespace kav::record {
namespace {

TEST(AreaTest, MoveRuleAlignsLeftFillsAndCutsWithinTheField) {
  Area a(12, '*');
  a.set({3, 5}, "ab");
  EXPECT_EQ(a.bytes(), "**ab   *****");
  a.set({3, 5}, "abcdefgh");
  EXPECT_EQ(a.bytes(), "**abcde*****");
  // A field reaching past the end of the record is cut to the record.
  a.set({10, 8}, "XYZW");
  EXPECT_EQ(a.bytes(), "**abcde**XYZ");
  EXPECT_EQ(a.get({10, 8}), "XYZ");
  EXPECT_EQ(a.get({13, 2}), "");
  a.set({0, 3}, "no");  // position 0 does not exist
  EXPECT_EQ(a.bytes(), "**abcde**XYZ");
}

TEST(AreaTest, PaddedTrimAndBlank) {
  EXPECT_EQ(padded("abc", 5), "abc  ");
  EXPECT_EQ(padded("abcdef", 3), "abc");
  EXPECT_TRUE(is_blank("    "));
  EXPECT_TRUE(is_blank(""));
  EXPECT_FALSE(is_blank("  x "));
  EXPECT_EQ(trim_right("ab  "), "ab");
  EXPECT_EQ(trim_right("   "), "");
}

TEST(AreaTest, ControlCharactersBecomeBlanksAndWindows1252LettersStay) {
  using namespace std::string_literals;
  EXPECT_EQ(blank_controls("a\0b\tc\r\nd\x1f" "e\x7f"s), "a b c  d e ");
  // Bytes from 0x80 up are letters and signs of Windows-1252, not controls.
  EXPECT_EQ(blank_controls("\x80\x81\x9f\xa0\xe7\xff ~"), "\x80\x81\x9f\xa0\xe7\xff ~");
  EXPECT_EQ(blank_controls(""), "");
}

TEST(DigitsTest, ValuesTakeNonDigitsAsZeroAndWidthsDropHighDigits) {
  EXPECT_EQ(digits_value("000123"), 123U);
  EXPECT_EQ(digits_value("  12"), 12U);
  EXPECT_EQ(digits_value("1 2"), 102U);
  EXPECT_EQ(digits_value("\xff" "9"), 9U);
  EXPECT_EQ(to_digits(1234567, 4), "4567");
  EXPECT_EQ(to_digits(7, 3), "007");
  EXPECT_TRUE(is_zero_field("0 0 "));
  EXPECT_FALSE(is_zero_field("0010"));
}

TEST(Cp1252Test, SystemTextsBecomeSingleBytes) {
  EXPECT_EQ(cp1252("Exportação de cadastros ..."), "Exporta\xE7\xE3o de cadastros ...");
  EXPECT_EQ(cp1252("Serviço 99%"), "Servi\xE7o 99%");
  EXPECT_EQ(cp1252("€ “x” — ™"), "\x80 \x93x\x94 \x97 \x99");
  EXPECT_EQ(cp1252("日"), "?");            // not in the set
  EXPECT_EQ(cp1252("a\xC3"), "a?");         // cut sequence
  EXPECT_EQ(cp1252("\xE0\x80x"), "?" "?x");  // bad continuation
}

TEST(Cp1252Test, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(cp1252(to_utf8(all)), all);
  EXPECT_EQ(to_utf8("\x80\x9F\xE9"), "€Ÿé");
}

// Names compare as the system compares them: ASCII letters without regard to
// case, every other Windows-1252 byte as it is, whatever the process locale.
TEST(LetterCaseTest, OnlyAsciiLettersChangeCase) {
  EXPECT_EQ(upper("Bt_Sair-z\xE3o"), "BT_SAIR-Z\xE3O");
  EXPECT_EQ(lower("COZINHA \xC3"), "cozinha \xC3");
  EXPECT_TRUE(same_letters("frm_bloq", "FRM_BLOQ"));
  EXPECT_FALSE(same_letters("SAL\xC3O", "sal\xE3o"));  // accented letters are not folded
  EXPECT_FALSE(same_letters("BAR", "BAR "));
  EXPECT_FALSE(same_letters("@", "`"));  // neighbours of the letters stay apart
  EXPECT_FALSE(same_letters("[", "{"));
}

}  // namespace
}  // namespace kav::record
