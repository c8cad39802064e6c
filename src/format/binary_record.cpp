#include "format/binary_record.h"

namespace kolvaprof {
namespace {

class WordWriter {
 public:
  explicit WordWriter(unsigned char* out) : out(out) {}
  // Little-endian whatever the host; wider values keep their low 32 bits.
  void put(int64_t value) {
    const auto word = static_cast<uint32_t>(static_cast<uint64_t>(value));
    for (int shift = 0; shift < 32; shift += 8) out[used++] = static_cast<unsigned char>(word >> shift);
  }
  void putTime(int64_t nanoseconds) {
    put(nanoseconds);
    put(static_cast<int64_t>(static_cast<uint64_t>(nanoseconds) >> 32));
  }
  std::size_t bytes() const { return used; }

 private:
  unsigned char* out;
  std::size_t used = 0;
};

class WordReader {
 public:
  explicit WordReader(const unsigned char* in) : in(in) {}
  int32_t take() {
    const uint32_t word = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
                          static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
    in += 4;
    return static_cast<int32_t>(word);
  }
  int64_t takeTime() {
    const auto low = static_cast<uint32_t>(take());
    const auto high = static_cast<uint32_t>(take());
    return static_cast<int64_t>(static_cast<uint64_t>(high) << 32 | low);
  }

 private:
  const unsigned char* in;
};

}  // namespace

std::size_t encodeEntryRecord(unsigned char (&out)[kMaxRecordBytes], RecordLayout layout,
                              int32_t methodNumber, int64_t receiverTag, int64_t callNumber,
                              std::size_t callDepth, int32_t threadNumber, int64_t time) {
  WordWriter words(out);
  words.put(methodNumber);
  words.put(receiverTag);
  if (layout.withCallNumber) words.put(callNumber);
  words.put(static_cast<int64_t>(callDepth));
  if (layout.withThreadNumber) words.put(threadNumber);
  if (layout.withTime) words.putTime(time);
  return words.bytes();
}

std::size_t encodeExitRecord(unsigned char (&out)[kMaxRecordBytes], RecordLayout layout,
                             std::size_t callDepth, int32_t threadNumber, int64_t time) {
  WordWriter words(out);
  words.put(0);
  words.put(0);
  if (layout.withCallNumber) words.put(0);
  words.put(static_cast<int64_t>(callDepth));
  if (layout.withThreadNumber) words.put(threadNumber);
  if (layout.withTime) words.putTime(time);
  return words.bytes();
}

BinaryRecord decodeRecord(const unsigned char* bytes, RecordLayout layout) {
  WordReader words(bytes);
  BinaryRecord record;
  record.method = words.take();
  record.tag = words.take();
  if (layout.withCallNumber) record.callNumber = words.take();
  record.depth = words.take();
  if (layout.withThreadNumber) record.thread = words.take();
  if (layout.withTime) record.time = words.takeTime();
  return record;
}

}  // namespace kolvaprof
