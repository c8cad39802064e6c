#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

#include "reader/frames.h"
#include "reader/line_splitter.h"

namespace kolvaprof::reader {

class Diagnostics;

// What Index.dat names: methods by number and, with thread numbers recorded,
// threads by number.
struct Index {
  bool present = false;
  std::unordered_map<std::int32_t, MethodName> methods;
  std::map<std::int32_t, std::string> threads;
};

// Reads Index.dat line by line; lines it cannot use are reported and
// skipped, the rest is kept, so a partial index still names what it can.
class IndexFileParser {
 public:
  IndexFileParser(Index& index, std::string_view fileName, Diagnostics& diagnostics)
      : index(index), fileName(fileName), diagnostics(diagnostics) {}

  void feed(std::string_view data);
  void finish();

 private:
  void line(const LineSplitter::Line& line);

  Index& index;
  std::string_view fileName;
  Diagnostics& diagnostics;
  LineSplitter splitter;
};

// Index.dat of a run; a missing file is reported and gives an empty index.
Index readIndexFile(const std::string& path, Diagnostics& diagnostics);

// A decimal number without sign or leading zeros, as the agent writes them;
// nullopt for anything else or for overflow.
std::optional<std::int64_t> parseNumber(std::string_view text, bool allowMinus = false);

}  // namespace kolvaprof::reader
