#include "reader/input/text_log_parser.h"

#include "format/text_line.h"
#include "reader/input/diagnostics.h"
#include "reader/input/record_sink.h"
#include "reader/input/run_directory.h"

namespace kolvaprof::reader {

void TextLogParser::feed(std::string_view data) {
  splitter.feed(data, [this](const LineSplitter::Line& l) { line(l); });
}

void TextLogParser::finish() {
  splitter.finish([this](const LineSplitter::Line& l) { line(l); });
}

void TextLogParser::line(const LineSplitter::Line& l) {
  const Position where{file.name, 0, l.number, l.offset};
  if (!l.complete && !l.tooLong) diagnostics.report(Problem::IncompleteLine, where, quoted(l.text));
  const TextLine parsed = l.tooLong ? TextLine{} : parseTextLine(l.text);
  switch (parsed.kind) {
    case TextLine::Kind::Stray:
      if (l.complete || l.tooLong) diagnostics.report(Problem::StrayLine, where, quoted(l.text));
      return;
    case TextLine::Kind::Header:
      sink.header(*parsed.thread, parsed.threadName);
      return;
    case TextLine::Kind::Exit: {
      LoggedExit exit;
      exit.thread = parsed.thread.value_or(-1);
      exit.exception = parsed.exception;
      exit.time = parsed.time;
      sink.exit(file, exit, where);
      return;
    }
    case TextLine::Kind::Entry:
      break;
  }
  LoggedEntry entry;
  entry.thread = parsed.thread.value_or(-1);
  entry.method = &parsed.method;
  entry.tag = parsed.receiverTag;
  entry.callNumber = parsed.callNumber;
  entry.location = parsed.location;
  entry.time = parsed.time;
  sink.entry(file, entry, where);
}

}  // namespace kolvaprof::reader
