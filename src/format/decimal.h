#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kolvaprof {

// Decimal digits without padding, a '-' for negative values: how every number
// in the records is written.
template <typename Integer>
void appendDecimal(std::string& text, Integer value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

// Digits only, with a leading '-' when `allowMinus`; leading zeros pass.
// nullopt for anything else and for values beyond 64 bits.
std::optional<int64_t> parseNumber(std::string_view text, bool allowMinus = false);

}  // namespace kolvaprof
