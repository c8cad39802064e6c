#include "format/decimal.h"

#include <cstring>
#include <limits>

namespace kolvaprof {
namespace {

constexpr char kDigitPairs[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243"
    "4445464748495051525354555657585960616263646566676869707172737475767778798081828384858687"
    "888990919293949596979899";

char* writePair(char* out, uint32_t pair) {
  std::memcpy(out, kDigitPairs + 2 * pair, 2);
  return out + 2;
}

// Exactly eight digits, leading zeros included: value < 10^8.
char* writeEightDigits(char* out, uint32_t value) {
  const uint32_t high = value / 10000;
  const uint32_t low = value % 10000;
  out = writePair(out, high / 100);
  out = writePair(out, high % 100);
  out = writePair(out, low / 100);
  return writePair(out, low % 100);
}

// Without leading zeros: value < 10^8.
char* writeUpToEightDigits(char* out, uint32_t value) {
  const int count = value < 10000 ? (value < 100 ? (value < 10 ? 1 : 2) : (value < 1000 ? 3 : 4))
                                  : (value < 1000000 ? (value < 100000 ? 5 : 6)
                                                     : (value < 10000000 ? 7 : 8));
  char* const end = out + count;
  char* at = end;
  while (value >= 100) {
    at -= 2;
    writePair(at, value % 100);
    value /= 100;
  }
  if (value >= 10) {
    writePair(at - 2, value);
  } else {
    at[-1] = static_cast<char>('0' + value);
  }
  return end;
}

}  // namespace

char* writeDecimal(char* out, int64_t value) {
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0 - magnitude;
  }
  constexpr uint64_t kEight = 100000000;
  if (magnitude < kEight) return writeUpToEightDigits(out, static_cast<uint32_t>(magnitude));
  const uint64_t upper = magnitude / kEight;
  const auto lowest = static_cast<uint32_t>(magnitude % kEight);
  if (upper < kEight) {
    out = writeUpToEightDigits(out, static_cast<uint32_t>(upper));
  } else {
    out = writeUpToEightDigits(out, static_cast<uint32_t>(upper / kEight));
    out = writeEightDigits(out, static_cast<uint32_t>(upper % kEight));
  }
  return writeEightDigits(out, lowest);
}

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
