#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/binary_record.h"

namespace kolvaprof::reader {

class Diagnostics;
class RecordSink;
struct LogFileInfo;

// Splits a binary log, fed in pieces of any size, into records and hands
// them to the sink. A record cut by a piece boundary waits for the next
// piece; one cut by the end of the file is reported.
class BinaryLogParser {
 public:
  BinaryLogParser(const LogFileInfo& file, RecordLayout layout, RecordSink& sink, Diagnostics& diagnostics)
      : file(file), layout(layout), sink(sink), diagnostics(diagnostics) {}

  void feed(std::string_view data);
  void finish();
  // One record read by other means (a compact block), counted as the next.
  void record(const BinaryRecord& r);

 private:

  const LogFileInfo& file;
  RecordLayout layout;
  RecordSink& sink;
  Diagnostics& diagnostics;
  std::string carry;
  std::uint64_t records = 0;
};

}  // namespace kolvaprof::reader
