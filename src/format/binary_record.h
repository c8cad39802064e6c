#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format/record_layout.h"

namespace kolvaprof {

inline constexpr std::size_t kMaxRecordBytes = 28;

namespace record_words {
// Little-endian whatever the host; wider values keep their low 32 bits.
inline unsigned char* put(unsigned char* out, int64_t value) {
  const auto word = static_cast<uint32_t>(static_cast<uint64_t>(value));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(out, &word, 4);
#else
  for (int shift = 0; shift < 32; shift += 8) out[shift / 8] = static_cast<unsigned char>(word >> shift);
#endif
  return out + 4;
}
inline unsigned char* putTime(unsigned char* out, int64_t nanoseconds) {
  out = put(out, nanoseconds);
  return put(out, static_cast<int64_t>(static_cast<uint64_t>(nanoseconds) >> 32));
}
inline int32_t take(const unsigned char*& in) {
  const uint32_t word = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
                        static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
  in += 4;
  return static_cast<int32_t>(word);
}
inline int64_t takeTime(const unsigned char*& in) {
  const auto low = static_cast<uint32_t>(take(in));
  const auto high = static_cast<uint32_t>(take(in));
  return static_cast<int64_t>(static_cast<uint64_t>(high) << 32 | low);
}
}  // namespace record_words

// Each encoder fills `out` (room for kMaxRecordBytes) with little-endian
// 32-bit words and returns the number of bytes used. Tags and call numbers
// keep their low 32 bits; the time is written whole, when the layout has it.
// Inline: every logged call encodes, and a call into another unit costs
// about as much as the encoding.
inline std::size_t encodeEntryRecord(unsigned char* out, RecordLayout layout,
                                     int32_t methodNumber, int64_t receiverTag,
                                     int64_t callNumber, std::size_t callDepth,
                                     int32_t threadNumber, int64_t time = 0) {
  unsigned char* at = record_words::put(out, methodNumber);
  at = record_words::put(at, receiverTag);
  if (layout.withCallNumber) at = record_words::put(at, callNumber);
  at = record_words::put(at, static_cast<int64_t>(callDepth));
  if (layout.withThreadNumber) at = record_words::put(at, threadNumber);
  if (layout.withTime) at = record_words::putTime(at, time);
  return static_cast<std::size_t>(at - out);
}
inline std::size_t encodeExitRecord(unsigned char* out, RecordLayout layout,
                                    std::size_t callDepth, int32_t threadNumber,
                                    int64_t time = 0) {
  unsigned char* at = record_words::put(out, 0);
  at = record_words::put(at, 0);
  if (layout.withCallNumber) at = record_words::put(at, 0);
  at = record_words::put(at, static_cast<int64_t>(callDepth));
  if (layout.withThreadNumber) at = record_words::put(at, threadNumber);
  if (layout.withTime) at = record_words::putTime(at, time);
  return static_cast<std::size_t>(at - out);
}

// One record as its words read back: method 0 marks an exit, whose tag and
// call-number words are zero when the record is sound.
struct BinaryRecord {
  int32_t method = 0;
  int32_t tag = 0;
  int32_t callNumber = 0;  // 0 when the layout has no call numbers
  int32_t depth = 0;
  int32_t thread = -1;     // -1 when the layout has no thread numbers
  int64_t time = -1;       // -1 when the layout has no time

  bool isExit() const { return method == 0; }
};

// Reads `layout.bytes()` bytes. Inline, like the encoders: compact logs
// read back every record of a full buffer, and a layout known where this is
// called leaves only its own words to read.
inline BinaryRecord decodeRecord(const unsigned char* bytes, RecordLayout layout) {
  BinaryRecord record;
  record.method = record_words::take(bytes);
  record.tag = record_words::take(bytes);
  if (layout.withCallNumber) record.callNumber = record_words::take(bytes);
  record.depth = record_words::take(bytes);
  if (layout.withThreadNumber) record.thread = record_words::take(bytes);
  if (layout.withTime) record.time = record_words::takeTime(bytes);
  return record;
}
inline BinaryRecord decodeRecord(const char* bytes, RecordLayout layout) {
  return decodeRecord(reinterpret_cast<const unsigned char*>(bytes), layout);
}

}  // namespace kolvaprof
