#include "orders/amounts.h"

#include "record/digits.h"

namespace kav::orders {

std::uint64_t item_value(std::uint64_t quantity_thousandths, std::uint64_t value_hundredths) {
  // Both below 10^9, so the exact product (5 decimals) is below 10^18.
  const std::uint64_t q = quantity_thousandths % kNineDigits;
  const std::uint64_t v = value_hundredths % kNineDigits;
  return (q * v / 1000) % kNineDigits;
}

std::uint64_t add_values(std::uint64_t a, std::uint64_t b) { return (a % kNineDigits + b % kNineDigits) % kNineDigits; }

std::uint64_t service_value(std::uint64_t subtotal_hundredths, std::uint64_t percentage) {
  return (subtotal_hundredths % kNineDigits) * (percentage % 100) / 100 % kNineDigits;
}

std::uint64_t per_person(std::uint64_t total_hundredths, std::uint64_t people) {
  return people == 0 ? total_hundredths % kNineDigits : (total_hundredths % kNineDigits) / people;
}

std::uint64_t field_value(std::string_view digit_field) { return record::digits_value(digit_field); }

}  // namespace kav::orders
