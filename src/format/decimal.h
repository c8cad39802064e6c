#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kolvaprof {

// Room for any 64-bit decimal with its sign.
inline constexpr std::size_t kMaxDecimalChars = 20;

// Decimal digits without padding, a '-' for negative values: how every number
// in the records is written. Returns the end of what it wrote, at most
// kMaxDecimalChars on. Text records carry two or three numbers per call
// (times of ten digits and more), so this takes them eight digits at a time.
char* writeDecimal(char* out, int64_t value);

inline void appendDecimal(std::string& text, int64_t value) {
  char digits[kMaxDecimalChars];
  text.append(digits, writeDecimal(digits, value));
}

// Digits only, with a leading '-' when `allowMinus`; leading zeros pass.
// nullopt for anything else and for values beyond 64 bits.
std::optional<int64_t> parseNumber(std::string_view text, bool allowMinus = false);

}  // namespace kolvaprof
