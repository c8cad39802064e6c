#pragma once

#include <optional>
#include <string_view>

#include "format/binary_record.h"
#include "reader/input/binary_log_parser.h"
#include "reader/input/block_log_parser.h"
#include "reader/input/compact_log_parser.h"
#include "reader/input/run_directory.h"
#include "reader/input/text_log_parser.h"

namespace kolvaprof::reader {

class Diagnostics;
class RecordSink;

// How a run's logs hold their records: text lines (no layout), binary
// records of a layout, and those in compact blocks.
struct LogEncoding {
  std::optional<RecordLayout> layout;
  bool compact = false;
};

// The parser a log file needs, by its kind and the run's encoding, fed in
// pieces of any size like each of them.
class LogParser {
 public:
  LogParser(const LogFileInfo& file, LogEncoding encoding, RecordSink& sink, Diagnostics& diagnostics) {
    if (file.blocks) {
      blocks.emplace(file, encoding.layout, sink, diagnostics, encoding.compact);
    } else if (encoding.layout && encoding.compact) {
      compact.emplace(file, *encoding.layout, sink, diagnostics);
    } else if (encoding.layout) {
      binary.emplace(file, *encoding.layout, sink, diagnostics);
    } else {
      text.emplace(file, sink, diagnostics);
    }
  }

  void feed(std::string_view data) {
    if (blocks) blocks->feed(data);
    if (compact) compact->feed(data);
    if (binary) binary->feed(data);
    if (text) text->feed(data);
  }
  void finish() {
    if (blocks) blocks->finish();
    if (compact) compact->finish();
    if (binary) binary->finish();
    if (text) text->finish();
  }

 private:
  std::optional<BlockLogParser> blocks;
  std::optional<CompactLogParser> compact;
  std::optional<BinaryLogParser> binary;
  std::optional<TextLogParser> text;
};

}  // namespace kolvaprof::reader
