#pragma once

#include <charconv>
#include <string>

namespace kolvaprof {

// Decimal digits without padding, a '-' for negative values: how every number
// in the records is written.
template <typename Integer>
void appendDecimal(std::string& text, Integer value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

}  // namespace kolvaprof
