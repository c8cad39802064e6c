#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reader/input/binary_log_parser.h"
#include "reader/input/block_log_parser.h"
#include "reader/input/text_log_parser.h"
#include "reader/model/call_stream.h"

namespace kolvaprof::reader {

class Run;

// Where a cursor's bytes lie in its file: all of it, or (for one virtual
// thread) its blocks, one after another.
struct Extent {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// One log, or one virtual thread's blocks, read a piece at a time when asked,
// through a CallStream of its own into a sink: what a merge of many logs
// needs. The file is open only while a piece is read, so any number of
// cursors can wait at once.
class LogCursor {
 public:
  static constexpr std::size_t kPieceBytes = 16800;  // a multiple of every record size

  LogCursor(Run& run, const LogFileInfo& file, std::vector<Extent> extents, EventSink& sink,
            Diagnostics& diagnostics);
  LogCursor(const LogCursor&) = delete;
  LogCursor& operator=(const LogCursor&) = delete;

  // Hands the next piece to the parser; false once everything was read (and
  // the stream finished).
  bool step();

 private:
  const LogFileInfo& file;
  std::vector<Extent> extents;
  std::size_t extent = 0;
  std::uint64_t done = 0;  // of the current extent
  Diagnostics& diagnostics;
  CallStream calls;
  std::optional<BlockLogParser> blocks;
  std::optional<BinaryLogParser> binary;
  std::optional<TextLogParser> text;
  bool finished = false;
};

// The blocks of each virtual thread in a file of blocks, by thread number in
// order of first block. Reads only the block headers.
std::vector<std::pair<std::int32_t, std::vector<Extent>>> indexThreadBlocks(const LogFileInfo& file,
                                                                            Diagnostics& diagnostics);

}  // namespace kolvaprof::reader
