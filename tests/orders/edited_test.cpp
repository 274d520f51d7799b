// Edited number forms and the exact arithmetic of the bill.
#include <gtest/gtest.h>

#include "orders/amounts.h"
#include "orders/edited.h"

namespace kav::orders {
namespace {

TEST(EditedForms, ZzzZz9) {
  EXPECT_EQ(edit_zzz_zz9(0), "      0");
  EXPECT_EQ(edit_zzz_zz9(2), "      2");
  EXPECT_EQ(edit_zzz_zz9(1234), "  1.234");
  EXPECT_EQ(edit_zzz_zz9(123456), "123.456");
  EXPECT_EQ(edit_zzz_zz9(1000), "  1.000");
  EXPECT_EQ(edit_zzz_zz9(1234567), "234.567");  // the seventh digit is lost
}

TEST(EditedForms, ZzzZz9With3Decimals) {
  EXPECT_EQ(edit_zzz_zz9_999(250), "      0,250");
  EXPECT_EQ(edit_zzz_zz9_999(0), "      0,000");
  EXPECT_EQ(edit_zzz_zz9_999(1'234'500), "  1.234,500");
  EXPECT_EQ(edit_zzz_zz9_999(1'500), "      1,500");
  EXPECT_EQ(edit_zzz_zz9_999(999'999'999), "999.999,999");
}

TEST(EditedForms, ZZzzZz9With2Decimals) {
  EXPECT_EQ(edit_z_zzz_zz9_99(0), "        0,00");  // never all blanks
  EXPECT_EQ(edit_z_zzz_zz9_99(1250), "       12,50");
  EXPECT_EQ(edit_z_zzz_zz9_99(123'456'789), "1.234.567,89");
  EXPECT_EQ(edit_z_zzz_zz9_99(5), "        0,05");
  EXPECT_EQ(edit_z_zzz_zz9_99(100'000), "    1.000,00");
  EXPECT_EQ(edit_z_zzz_zz9_99(100'000'000), "1.000.000,00");
  EXPECT_EQ(edit_z_zzz_zz9_99(1'000'000'000), "        0,00");  // above nine digits
}

TEST(BillArithmetic, ItemValuesServiceTotalAndPerPersonOfABill) {
  // 2 units of 12,50 and 0,350 units of 40,00; service 10; 3 people.
  const std::uint64_t first = item_value(2'000, 1'250);
  const std::uint64_t second = item_value(350, 4'000);
  EXPECT_EQ(edit_z_zzz_zz9_99(first), "       25,00");
  EXPECT_EQ(edit_z_zzz_zz9_99(second), "       14,00");
  const std::uint64_t subtotal = add_values(first, second);
  EXPECT_EQ(edit_z_zzz_zz9_99(subtotal), "       39,00");
  const std::uint64_t service = service_value(subtotal, 10);
  EXPECT_EQ(edit_z_zzz_zz9_99(service), "        3,90");
  const std::uint64_t total = add_values(subtotal, service);
  EXPECT_EQ(edit_z_zzz_zz9_99(total), "       42,90");
  EXPECT_EQ(edit_z_zzz_zz9_99(per_person(total, 3)), "       14,30");
}

TEST(BillArithmetic, ResultsAreCutNeverRounded) {
  EXPECT_EQ(item_value(1'999, 1), 1U);           // 1,999 x 0,01 = 0,01999
  EXPECT_EQ(item_value(333, 100), 33U);           // 0,333 x 1,00 = 0,333
  EXPECT_EQ(service_value(999, 10), 99U);         // 9,99 x 10% = 0,999
  EXPECT_EQ(per_person(1'000, 3), 333U);          // 10,00 / 3
  EXPECT_EQ(per_person(200, 3), 66U);             // 2,00 / 3 = 0,666...
}

TEST(BillArithmetic, DigitsAboveTheNinthAreLost) {
  // 999.999,999 x 9.999.999,99 needs 18 digits; only the last 9 of the
  // hundredths stay.
  const std::uint64_t exact_hundredths = 999'999'999ULL * 999'999'999ULL / 1000;
  EXPECT_EQ(item_value(999'999'999, 999'999'999), exact_hundredths % 1'000'000'000);
  EXPECT_EQ(add_values(999'999'999, 2), 1U);
  EXPECT_EQ(item_value(100'000, 1'000'000), 100'000'000U);    // 100 x 10.000,00 = 1.000.000,00 fits
  EXPECT_EQ(item_value(1'000'000, 1'000'123), 123'000U);       // 1.000 x 10.001,23: the leading 1 is lost
}

TEST(BillArithmetic, FieldsWithOtherBytesReadAsDigits) {
  EXPECT_EQ(field_value("000002000"), 2'000U);
  EXPECT_EQ(field_value("         "), 0U);   // a blank field is zero
  EXPECT_EQ(field_value("1 "), 10U);         // a blank counts as the digit 0
  EXPECT_EQ(field_value("0\xff""2"), 2U);    // any other byte too
  EXPECT_EQ(field_value(""), 0U);
  // A number of people that reads as zero never divides.
  EXPECT_EQ(per_person(4'290, field_value("  ")), 4'290U);
  EXPECT_EQ(per_person(4'290, field_value("x0")), 4'290U);
}

}  // namespace
}  // namespace kav::orders
