// Edited number forms of the printed tickets, in the Brazilian way: a point
// for thousands, a comma for decimals, leading zeros printed as blanks, no
// sign. Each takes an unsigned value in units of its last digit; digits above
// the form's width are lost.
//
// Editing runs from the left: while only zeros have been met, each Z and each
// point prints as a blank; from the first non-zero digit on, and in any case
// from the 9 on, every digit, point and comma prints as itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kav::orders {

// ZZZ.ZZ9: 6 integer digits, 7 characters. 0 gives six blanks and "0".
std::string edit_zzz_zz9(std::uint64_t units);

// ZZZ.ZZ9,999: 6 integer and 3 decimal digits, 11 characters; the value in
// thousandths. 250 gives six blanks and "0,250".
std::string edit_zzz_zz9_999(std::uint64_t thousandths);

// Z.ZZZ.ZZ9,99: 7 integer and 2 decimal digits, 12 characters; the value in
// hundredths. 0 gives eight blanks and "0,00".
std::string edit_z_zzz_zz9_99(std::uint64_t hundredths);

// PRT-QUANTIDADE of a quantity in thousandths: a whole quantity ZZZ.ZZ9 and
// four blanks, one with a fraction ZZZ.ZZ9,999; 11 characters.
std::string edited_quantity(std::uint64_t thousandths);

// Edits the digits of `value` (as many as the pattern has Z and 9 positions,
// leading zeros added, digits above them lost) with a pattern of Z, 9, "."
// and ",".
std::string edit(std::string_view pattern, std::uint64_t value);

}  // namespace kav::orders
