// Digit fields and unsigned decimal numbers with implied decimals.
//
// A digit field holds ASCII digits with leading zeros. Data from outside (a
// web answer cut short, a blank field) can put other bytes there; the rule is
// simple and total: a character that is not a digit counts as 0. So a blank
// field is zero, and no byte makes the arithmetic misbehave.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kav::record {

// Value of a digit field (any length up to 18); non-digits count as 0.
std::uint64_t digits_value(std::string_view field);

// `value` as `width` digits with leading zeros; digits above the width are
// lost, as when a number is moved into a shorter digit field.
std::string to_digits(std::uint64_t value, std::size_t width);

// True when the field reads as zero: every character a zero digit or a blank.
bool is_zero_field(std::string_view field);

// 10 to the power n, for n up to 18.
std::uint64_t pow10(unsigned n);

}  // namespace kav::record
