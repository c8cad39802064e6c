#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "format/method_text.h"
#include "reader/input/diagnostics.h"
#include "reader/input/line_splitter.h"

namespace kolvaprof::reader {

// A method's names as the records spell them, kept beyond the line they came
// from: both in Method lines ("int a.b.C.run(int){") and in text entry lines
// ("int a.b.C(7).run(int){").
struct MethodName {
  std::string returnType;
  std::string packageName;  // empty for the default package
  std::string className;
  std::string methodName;
  std::string parameters;  // "int,java.lang.String[]"

  static MethodName of(const MethodText& text) {
    return {std::string(text.returnType), std::string(text.packageName), std::string(text.className),
            std::string(text.methodName), std::string(text.parameterList)};
  }
};

// What Index.dat names: methods by number and, with thread numbers recorded,
// threads by number.
struct Index {
  bool present = false;
  std::unordered_map<std::int32_t, MethodName> methods;
  std::map<std::int32_t, std::string> threads;
};

// Reads Index.dat line by line; lines it cannot use are reported and
// skipped, the rest is kept, so a partial index still names what it can.
// A Thread line whose name has no closing quote keeps its number: runs from
// before names were escaped split a name with a line feed over two lines,
// and the lines that follow it up to the closing quote are taken back into
// the name.
class IndexFileParser {
 public:
  IndexFileParser(Index& index, std::string_view fileName, Diagnostics& diagnostics)
      : index(index), fileName(fileName), diagnostics(diagnostics) {}

  void feed(std::string_view data);
  void finish();

 private:
  void line(const LineSplitter::Line& line);
  void addThread(std::int32_t number, std::string name, const Position& where);
  // Names the open thread with what its lines gave.
  void closeThread();

  // A Thread line without its closing quote yet, and the lines it has taken.
  struct OpenThread {
    std::string text;
    Position where;
    std::uint64_t lines = 1;
  };

  Index& index;
  std::string_view fileName;
  Diagnostics& diagnostics;
  LineSplitter splitter;
  std::optional<OpenThread> open;
};

// Index.dat of a run; a missing file is reported and gives an empty index.
Index readIndexFile(const std::string& path, Diagnostics& diagnostics);

}  // namespace kolvaprof::reader
