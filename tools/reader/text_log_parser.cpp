#include "reader/text_log_parser.h"

#include <limits>

#include "reader/call_stream.h"
#include "reader/index_file_parser.h"
#include "reader/run_directory.h"

namespace kolvaprof::reader {
namespace {

std::optional<std::int32_t> threadNumber(std::string_view text) {
  const std::optional<std::int64_t> n = parseNumber(text);
  if (!n || *n > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(*n);
}

// "<return> <package>.<Class>(<tag>).<name>(<parameters>){", read from the
// right: parameter types hold dots, commas and "[]", method names "$" and
// "<>", and none of them parentheses.
bool parseEntryBody(std::string_view s, TextLine& out) {
  if (s.size() < 2 || s.substr(s.size() - 2) != "){") return false;
  const std::size_t close = s.size() - 2;
  const std::size_t open = s.rfind('(', close);
  if (open == std::string_view::npos || open < 3) return false;
  const std::size_t dot = s.rfind('.', open);
  if (dot == std::string_view::npos || dot < 2 || s[dot - 1] != ')') return false;
  const std::size_t tagOpen = s.rfind('(', dot - 2);
  if (tagOpen == std::string_view::npos) return false;
  const std::optional<std::int64_t> tag = parseNumber(s.substr(tagOpen + 1, dot - 2 - tagOpen), true);
  if (!tag) return false;
  const std::string_view qualified = s.substr(0, tagOpen);
  const std::size_t space = qualified.find(' ');
  if (space == std::string_view::npos || space == 0) return false;
  const std::size_t classDot = qualified.rfind('.');
  if (classDot == std::string_view::npos || classDot <= space || classDot + 1 == qualified.size()) return false;
  out.returnType = qualified.substr(0, space);
  out.packageName = qualified.substr(space + 1, classDot - space - 1);
  out.className = qualified.substr(classDot + 1);
  out.methodName = s.substr(dot + 1, open - dot - 1);
  out.parameters = s.substr(open + 1, close - open - 1);
  out.tag = *tag;
  return !out.methodName.empty();
}

}  // namespace

TextLine parseTextLine(std::string_view line) {
  TextLine out;
  constexpr std::string_view kHeader = "@thread ";
  if (line.rfind(kHeader, 0) == 0) {
    const std::size_t equals = line.find(" = \"");
    if (equals != std::string_view::npos && line.size() >= equals + 5 && line.back() == '"') {
      out.thread = threadNumber(line.substr(kHeader.size(), equals - kHeader.size()));
      out.threadName = line.substr(equals + 4, line.size() - equals - 5);
      if (out.thread) out.kind = TextLine::Kind::Header;
    }
    if (out.kind != TextLine::Kind::Header) out.thread.reset();
    return out;
  }
  std::string_view rest = line;
  if (!rest.empty() && rest.front() == '@') {
    const std::size_t space = rest.find(' ');
    if (space == std::string_view::npos || !(out.thread = threadNumber(rest.substr(1, space - 1)))) return out;
    rest.remove_prefix(space + 1);
  }
  if (rest == "}" || rest.rfind("} ", 0) == 0) {
    if (rest.size() > 1) out.exception = rest.substr(2);
    out.kind = TextLine::Kind::Exit;
    return out;
  }
  // The call number is a word of digits; a return type never is.
  std::size_t space = rest.find(' ');
  if (space != std::string_view::npos) {
    if (const std::optional<std::int64_t> call = parseNumber(rest.substr(0, space))) {
      out.callNumber = call;
      rest.remove_prefix(space + 1);
    }
  }
  if (rest.rfind("From:", 0) == 0) {
    space = rest.find(' ');
    if (space == std::string_view::npos) return out;
    out.location = rest.substr(5, space - 5);
    rest.remove_prefix(space + 1);
  }
  if (parseEntryBody(rest, out)) out.kind = TextLine::Kind::Entry;
  return out;
}

void TextLogParser::feed(std::string_view data) {
  splitter.feed(data, [this](const LineSplitter::Line& l) { line(l); });
}

void TextLogParser::finish() {
  splitter.finish([this](const LineSplitter::Line& l) { line(l); });
}

void TextLogParser::line(const LineSplitter::Line& l) {
  const Position where{file.name, 0, l.number, l.offset};
  Diagnostics& diagnostics = stream.diagnostics();
  if (!l.complete && !l.tooLong) diagnostics.report(Problem::IncompleteLine, where, quoted(l.text));
  const TextLine parsed = l.tooLong ? TextLine{} : parseTextLine(l.text);
  switch (parsed.kind) {
    case TextLine::Kind::Stray:
      if (l.complete || l.tooLong) diagnostics.report(Problem::StrayLine, where, quoted(l.text));
      return;
    case TextLine::Kind::Header:
      stream.header(*parsed.thread, parsed.threadName);
      return;
    case TextLine::Kind::Entry:
    case TextLine::Kind::Exit:
      break;
  }
  const std::int32_t number = parsed.thread.value_or(-1);
  ThreadState* thread = stream.thread(threadKey(number, file.index), number, file, where);
  if (thread == nullptr) return;
  if (parsed.kind == TextLine::Kind::Exit) {
    stream.exit(*thread, Exit{false, parsed.exception}, -1, where);
    return;
  }
  Entry entry;
  entry.frame = stream.frames().intern(parsed.returnType, parsed.packageName, parsed.className,
                                       parsed.methodName, parsed.parameters);
  entry.tag = parsed.tag;
  entry.callNumber = parsed.callNumber;
  entry.location = parsed.location;
  stream.enter(*thread, entry, -1, where);
}

}  // namespace kolvaprof::reader
