#include "reader/input/index_file_parser.h"

#include <fmt/format.h>

#include <cstdio>
#include <memory>

#include "format/index_line.h"
#include "reader/input/diagnostics.h"

namespace kolvaprof::reader {

void IndexFileParser::feed(std::string_view data) {
  splitter.feed(data, [this](const LineSplitter::Line& l) { line(l); });
}

void IndexFileParser::finish() {
  splitter.finish([this](const LineSplitter::Line& l) { line(l); });
  if (open) closeThread();
}

void IndexFileParser::addThread(std::int32_t number, std::string name, const Position& where) {
  if (!index.threads.emplace(number, std::move(name)).second)
    diagnostics.report(Problem::IndexLine, where, fmt::format("thread {} named twice", number));
}

void IndexFileParser::closeThread() {
  IndexLine parsed = parseIndexLine(open->text);
  diagnostics.report(Problem::IndexLine, open->where,
                     fmt::format("the name of thread {} has no closing quote: {}", parsed.number, quoted(open->text)));
  addThread(parsed.number, std::move(parsed.threadName), open->where);
  open.reset();
}

void IndexFileParser::line(const LineSplitter::Line& l) {
  const Position where{fileName, 0, l.number, l.offset};
  if (!l.complete && !l.tooLong)
    diagnostics.report(Problem::IndexLine, where, "incomplete last line " + quoted(l.text));
  IndexLine parsed = l.tooLong ? IndexLine{} : parseIndexLine(l.text);
  if (open) {
    if (parsed.fault == IndexLineFault::NotAnIndexLine && !l.tooLong &&
        open->text.size() + l.text.size() < LineSplitter::kMaxLine) {
      open->text.append("\n").append(l.text);
      ++open->lines;
      IndexLine joined = parseIndexLine(open->text);
      if (joined.fault == IndexLineFault::None) {
        diagnostics.report(Problem::IndexLine, open->where,
                           fmt::format("the name of thread {} runs over {} lines (a line feed written as it is)",
                                       joined.number, open->lines));
        addThread(joined.number, std::move(joined.threadName), open->where);
        open.reset();
      }
      return;
    }
    closeThread();
  }
  switch (parsed.fault) {
    case IndexLineFault::None:
      break;
    case IndexLineFault::UnterminatedThread:
      open = OpenThread{std::string(l.text), where};
      return;
    case IndexLineFault::NotAnIndexLine:
      diagnostics.report(Problem::IndexLine, where, "not a Method or Thread line: " + quoted(l.text));
      return;
    case IndexLineFault::MalformedThread:
      diagnostics.report(Problem::IndexLine, where, "malformed Thread line: " + quoted(l.text));
      return;
    case IndexLineFault::MalformedMethod:
      diagnostics.report(Problem::IndexLine, where, "malformed Method line: " + quoted(l.text));
      return;
  }
  if (parsed.kind == IndexLine::Kind::Thread) {
    addThread(parsed.number, std::move(parsed.threadName), where);
    return;
  }
  if (!index.methods.emplace(parsed.number, MethodName::of(parsed.method)).second)
    diagnostics.report(Problem::IndexLine, where, fmt::format("method {} named twice", parsed.number));
}

Index readIndexFile(const std::string& path, Diagnostics& diagnostics) {
  Index index;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    diagnostics.report(Problem::MissingIndex,
                       "Index.dat is missing or unreadable: methods are shown by number");
    return index;
  }
  index.present = true;
  IndexFileParser parser(index, kIndexFileName, diagnostics);
  std::string buffer(1 << 16, '\0');
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) parser.feed({buffer.data(), got});
  parser.finish();
  return index;
}

}  // namespace kolvaprof::reader
