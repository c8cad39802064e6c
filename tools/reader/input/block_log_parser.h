#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/binary_record.h"
#include "reader/input/binary_log_parser.h"
#include "reader/input/compact_log_parser.h"
#include "reader/input/record_sink.h"
#include "reader/input/text_log_parser.h"

namespace kolvaprof::reader {

class Diagnostics;
struct LogFileInfo;

// Reads the file of a run's virtual threads (format/thread_block.h), fed in
// pieces of any size: each block's records go to the sink as records of the
// thread that its header names, whatever thread number they carry.
class BlockLogParser : private RecordSink {
 public:
  // `layout`: that of the run's binary records; none for text.
  // `compact`: each block's records are a compact block.
  BlockLogParser(const LogFileInfo& file, std::optional<RecordLayout> layout, RecordSink& sink,
                 Diagnostics& diagnostics, bool compact = false)
      : file(file), layout(layout), sink(sink), diagnostics(diagnostics), compact(compact) {}

  void feed(std::string_view data);
  void finish();

 private:
  void headerLine();
  void endBlock();

  void header(std::int32_t number, std::string_view name) override;
  void entry(const LogFileInfo& file, const LoggedEntry& entry, const Position& where) override;
  void exit(const LogFileInfo& file, const LoggedExit& exit, const Position& where) override;
  void records(const LogFileInfo& file, const RecordRun& run) override;

  const LogFileInfo& file;
  std::optional<RecordLayout> layout;
  RecordSink& sink;
  Diagnostics& diagnostics;
  bool compact;
  std::string pendingHeader;
  bool skippingLongLine = false;
  std::uint64_t offset = 0;       // of the next byte fed
  std::uint64_t headerOffset = 0;
  std::int32_t thread = -1;       // of the block being read
  std::uint64_t remaining = 0;    // record bytes of the block still to come
  bool lastBlock = false;         // the thread's last: it ended
  std::optional<TextLogParser> textBlock;
  std::optional<BinaryLogParser> binaryBlock;
  std::optional<CompactLogParser> compactBlock;
};

}  // namespace kolvaprof::reader
