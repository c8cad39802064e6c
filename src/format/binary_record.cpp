#include "format/binary_record.h"

namespace kolvaprof {
namespace {

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
