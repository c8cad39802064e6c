#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "reader/line_splitter.h"

namespace kolvaprof::reader {

class CallStream;
struct LogFileInfo;

// One line of a text log, cut into its pieces (views into the line).
struct TextLine {
  enum class Kind { Entry, Exit, Header, Stray };
  Kind kind = Kind::Stray;
  std::optional<std::int32_t> thread;  // "@N " before an entry or exit; N of a header
  // Entries.
  std::optional<std::int64_t> callNumber;
  std::optional<std::string_view> location;  // after "From:"
  std::string_view returnType, packageName, className, methodName, parameters;
  std::int64_t tag = 0;
  // Exits: "} <exception>"; the name may be empty ("} ").
  std::optional<std::string_view> exception;
  // Headers: "@thread N = "name"".
  std::string_view threadName;
};

// Every optional piece is recognised on its own, line by line, so logs of
// any settings (and shared files mixing threads) read alike.
TextLine parseTextLine(std::string_view line);

// Feeds the lines of a text log, in pieces of any size, to the stream.
class TextLogParser {
 public:
  TextLogParser(const LogFileInfo& file, CallStream& stream) : file(file), stream(stream) {}

  void feed(std::string_view data);
  void finish();

 private:
  void line(const LineSplitter::Line& line);

  const LogFileInfo& file;
  CallStream& stream;
  LineSplitter splitter;
};

}  // namespace kolvaprof::reader
