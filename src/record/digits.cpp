#include "record/digits.h"

#include <algorithm>

namespace kav::record {

std::uint64_t digits_value(std::string_view field) {
  std::uint64_t value = 0;
  for (char c : field.substr(0, 18)) {
    value = value * 10 + ((c >= '0' && c <= '9') ? static_cast<unsigned>(c - '0') : 0U);
  }
  return value;
}

std::string to_digits(std::uint64_t value, std::size_t width) {
  std::string out(width, '0');
  for (std::size_t i = width; i > 0 && value > 0; --i) {
    out[i - 1] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out;
}

bool is_zero_field(std::string_view field) {
  return std::all_of(field.begin(), field.end(), [](char c) { return c == '0' || c == ' '; });
}

std::uint64_t pow10(unsigned n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

}  // namespace kav::record
