#pragma once

#include <string_view>

#include "reader/input/line_splitter.h"

namespace kolvaprof::reader {

class Diagnostics;
class RecordSink;
struct LogFileInfo;

// Feeds the lines of a text log, in pieces of any size, to the sink.
class TextLogParser {
 public:
  TextLogParser(const LogFileInfo& file, RecordSink& sink, Diagnostics& diagnostics)
      : file(file), sink(sink), diagnostics(diagnostics) {}

  void feed(std::string_view data);
  void finish();

 private:
  void line(const LineSplitter::Line& line);

  const LogFileInfo& file;
  RecordSink& sink;
  Diagnostics& diagnostics;
  LineSplitter splitter;
};

}  // namespace kolvaprof::reader
