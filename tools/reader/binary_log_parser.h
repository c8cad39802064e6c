#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "reader/layout_detection.h"

namespace kolvaprof::reader {

class CallStream;
struct LogFileInfo;

struct BinaryRecord {
  std::int32_t method = 0;  // 0 for an exit
  std::int32_t tag = 0;
  std::int32_t callNumber = 0;
  std::int32_t depth = 0;
  std::int32_t thread = -1;
};

// One record of `layout.bytes()` little-endian bytes.
BinaryRecord decodeRecord(const char* bytes, const Layout& layout);

// Splits a binary log, fed in pieces of any size, into records and hands
// them to the stream. A record cut by a piece boundary waits for the next
// piece; one cut by the end of the file is reported.
class BinaryLogParser {
 public:
  BinaryLogParser(const LogFileInfo& file, const Layout& layout, CallStream& stream)
      : file(file), layout(layout), stream(stream) {}

  void feed(std::string_view data);
  void finish();

 private:
  void record(const char* bytes);

  const LogFileInfo& file;
  Layout layout;
  CallStream& stream;
  std::string carry;
  std::uint64_t records = 0;
};

}  // namespace kolvaprof::reader
