#include "format/decimal.h"

#include <limits>

namespace kolvaprof {

std::optional<int64_t> parseNumber(std::string_view text, bool allowMinus) {
  bool negative = false;
  if (allowMinus && !text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
  const auto signedValue = static_cast<int64_t>(value);
  return negative ? -signedValue : signedValue;
}

}  // namespace kolvaprof
