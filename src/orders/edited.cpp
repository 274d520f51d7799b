#include "orders/edited.h"

#include <algorithm>

#include "record/digits.h"

namespace kav::orders {

std::string edit(std::string_view pattern, std::uint64_t value) {
  const auto positions = static_cast<std::size_t>(std::count_if(pattern.begin(), pattern.end(),
                                                                [](char c) { return c == 'Z' || c == '9'; }));
  const std::string digits = record::to_digits(value, positions);
  std::string out;
  out.reserve(pattern.size());
  std::size_t next = 0;
  bool printing = false;
  for (char p : pattern) {
    if (p == 'Z' || p == '9') {
      const char d = digits[next++];
      printing = printing || p == '9' || d != '0';
      out += printing ? d : ' ';
    } else {
      out += printing ? p : ' ';
    }
  }
  return out;
}

std::string edit_zzz_zz9(std::uint64_t units) { return edit("ZZZ.ZZ9", units); }

std::string edit_zzz_zz9_999(std::uint64_t thousandths) { return edit("ZZZ.ZZ9,999", thousandths); }

std::string edit_z_zzz_zz9_99(std::uint64_t hundredths) { return edit("Z.ZZZ.ZZ9,99", hundredths); }

std::string edited_quantity(std::uint64_t thousandths) {
  return thousandths % 1000 == 0 ? edit_zzz_zz9(thousandths / 1000) + "    " : edit_zzz_zz9_999(thousandths);
}

}  // namespace kav::orders
