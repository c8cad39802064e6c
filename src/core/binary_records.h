#pragma once

#include <cstddef>
#include <cstdint>

namespace kolvaprof {

// Which optional words the records of a run carry; both settings fix the size
// of every record, entry and exit alike.
struct RecordLayout {
  bool withCallNumber;
  bool withThreadNumber;

  std::size_t words() const { return 3 + (withCallNumber ? 1 : 0) + (withThreadNumber ? 1 : 0); }
  std::size_t bytes() const { return 4 * words(); }
};

inline constexpr std::size_t kMaxRecordBytes = 20;

// Each encoder fills `out` with little-endian 32-bit words and returns the
// number of bytes used. Tags and call numbers keep their low 32 bits.
std::size_t encodeEntryRecord(unsigned char (&out)[kMaxRecordBytes], RecordLayout layout,
                              int32_t methodNumber, int64_t receiverTag, int64_t callNumber,
                              std::size_t callDepth, int32_t threadNumber);
std::size_t encodeExitRecord(unsigned char (&out)[kMaxRecordBytes], RecordLayout layout,
                             std::size_t callDepth, int32_t threadNumber);

}  // namespace kolvaprof
