#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "reader/input/log_parser.h"
#include "reader/model/call_stream.h"

namespace kolvaprof::reader {

class Run;

// Where a cursor's bytes lie in its file: all of it, or (for one virtual
// thread) its blocks, one after another.
struct Extent {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// Files kept open for the cursors that read them, a bounded number at once:
// cursors of one file (the virtual threads') share its descriptor.
class OpenFiles {
 public:
  static constexpr std::size_t kMaxOpen = 256;
  OpenFiles() = default;
  OpenFiles(const OpenFiles&) = delete;
  OpenFiles& operator=(const OpenFiles&) = delete;
  ~OpenFiles();
  // A descriptor to read with pread, or -1.
  int get(const std::string& path);

 private:
  std::unordered_map<std::string, int> open;
};

// One log, or one virtual thread's blocks, read a piece at a time when asked,
// through a CallStream of its own into a sink: what a merge of many logs
// needs. Files are open only as `files` keeps them, so any number of
// cursors can wait at once.
class LogCursor {
 public:
  static constexpr std::size_t kPieceBytes = 16800;  // a multiple of every record size

  LogCursor(Run& run, const LogFileInfo& file, std::vector<Extent> extents, EventSink& sink,
            Diagnostics& diagnostics, OpenFiles& files);
  LogCursor(const LogCursor&) = delete;
  LogCursor& operator=(const LogCursor&) = delete;

  // Hands the next piece to the parser; false once everything was read (and
  // the stream finished).
  bool step();

 private:
  const LogFileInfo& file;
  OpenFiles& files;
  std::vector<Extent> extents;
  std::size_t extent = 0;
  std::uint64_t done = 0;  // of the current extent
  Diagnostics& diagnostics;
  CallStream calls;
  LogParser parser;
  bool finished = false;
};

// The time of a log's first record, when it is found at its start (text
// logs: within the first lines); none without times.
std::optional<std::int64_t> firstRecordTime(const LogFileInfo& file, LogEncoding encoding);

// The blocks of one virtual thread in a file of blocks, and the time of its
// first record when the header of its first block is followed by one.
struct ThreadBlocks {
  std::int32_t number = -1;
  std::vector<Extent> extents;
  std::optional<std::int64_t> firstTime;
};

// Every virtual thread of a file of blocks, in order of first block, from
// the block headers and the first record of each thread, as the run's
// records are encoded.
std::vector<ThreadBlocks> indexThreadBlocks(const LogFileInfo& file, LogEncoding encoding,
                                            Diagnostics& diagnostics);

}  // namespace kolvaprof::reader
