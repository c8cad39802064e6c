#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/binary_record.h"
#include "format/compact_block.h"

namespace kolvaprof::reader {

class Diagnostics;
class RecordSink;
struct LogFileInfo;

// Reads a log of compact blocks (format/compact_block.h), fed in pieces of
// any size: each whole block becomes the records it stands for, handed to
// the sink as a binary log's would be, those its operations vouch for in
// runs (RecordSink::records). A damaged block is reported and passed over to
// the next block found; one cut by the end of the file is reported.
class CompactLogParser {
 public:
  CompactLogParser(const LogFileInfo& file, RecordLayout layout, RecordSink& sink, Diagnostics& diagnostics);

  void feed(std::string_view data);
  void finish();

 private:
  void damaged(std::size_t at, const std::string& problem);
  // The records of the block just read.
  void hand();

  const LogFileInfo& file;
  RecordLayout layout;
  RecordSink& sink;
  Diagnostics& diagnostics;
  std::uint64_t records = 0;    // handed so far
  std::string pending;          // bytes of blocks not yet whole
  std::uint64_t pendingOffset = 0;  // of pending's first byte in the file
  CompactBlockRuns decoded;
};

}  // namespace kolvaprof::reader
