// The arithmetic of the bill: exact decimal arithmetic on unsigned values
// with implied decimals. A result is cut, never rounded, to its decimal
// places, and digits above its width are lost (values are 9 digits, 2 of them
// decimals: hundredths below 10^9).
//
// The operands come from digit fields of the web's answer. A character that
// is not a digit counts as 0 (record/digits.h), so a blank field is zero and
// no byte can make the arithmetic misbehave; in particular a number of
// people that reads as zero never divides.
#pragma once

#include <cstdint>
#include <string_view>

namespace kav::orders {

// 10^9: a value of 9 digits keeps its value modulo this.
inline constexpr std::uint64_t kNineDigits = 1'000'000'000;

// W-TOTAL-ITEM: quantity (6+3 digits, in thousandths) times unit value (7+2,
// in hundredths), cut to hundredths, last 9 digits.
std::uint64_t item_value(std::uint64_t quantity_thousandths, std::uint64_t value_hundredths);

// Sum of two values, last 9 digits (W-SUBTOTAL, W-TOTAL-CONTA).
std::uint64_t add_values(std::uint64_t a, std::uint64_t b);

// W-SERVICO: subtotal times the percentage divided by 100, cut to hundredths.
std::uint64_t service_value(std::uint64_t subtotal_hundredths, std::uint64_t percentage);

// Value per person: total divided by the people, cut to hundredths. Zero
// people leave the total as it is.
std::uint64_t per_person(std::uint64_t total_hundredths, std::uint64_t people);

// The value of a digit field: its digits read as one number, a non-digit
// counting as 0 ("0 2" reads 2, "1 " reads 10, blanks read 0).
std::uint64_t field_value(std::string_view digit_field);

}  // namespace kav::orders
