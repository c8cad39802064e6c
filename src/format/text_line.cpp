#include "format/text_line.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "format/decimal.h"
#include "format/name_escape.h"

namespace kolvaprof {
namespace {

char* copyText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* writeThreadPiece(char* out, bool withThreadNumber, int32_t threadNumber) {
  if (!withThreadNumber) return out;
  *out++ = '@';
  out = writeDecimal(out, threadNumber);
  *out++ = ' ';
  return out;
}

char* writeTimePiece(char* out, int64_t time) {
  *out++ = '+';
  return writeDecimal(out, time);
}

// "+<digits>" up to the next blank or the end; nullopt leaves `rest` as it was.
std::optional<int64_t> takeTime(std::string_view& rest) {
  if (rest.empty() || rest.front() != '+') return std::nullopt;
  const std::size_t end = std::min(rest.find(' '), rest.size());
  const std::optional<int64_t> time = parseNumber(rest.substr(1, end - 1));
  if (time) rest.remove_prefix(end);
  return time;
}

std::optional<int32_t> threadNumber(std::string_view text) {
  const std::optional<int64_t> n = parseNumber(text);
  if (!n || *n > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(*n);
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
  const std::optional<int64_t> tag = parseNumber(s.substr(tagOpen + 1, dot - 2 - tagOpen), true);
  if (!tag) return false;
  const std::string_view qualified = s.substr(0, tagOpen);
  const std::size_t space = qualified.find(' ');
  if (space == std::string_view::npos || space == 0) return false;
  const std::size_t classDot = qualified.rfind('.');
  if (classDot == std::string_view::npos || classDot <= space || classDot + 1 == qualified.size()) return false;
  out.method.returnType = qualified.substr(0, space);
  out.method.packageName = qualified.substr(space + 1, classDot - space - 1);
  out.method.className = qualified.substr(classDot + 1);
  out.method.methodName = s.substr(dot + 1, open - dot - 1);
  out.method.parameterList = s.substr(open + 1, close - open - 1);
  out.receiverTag = *tag;
  return !out.method.methodName.empty();
}

}  // namespace

void appendTextEntryLine(std::string& line, const TextEntry& entry) {
  // The per-call writer is the one definition of the line; this form makes
  // the method's pieces on the spot for callers without them.
  const std::string prefix = makeEntryPrefix(entry.method);
  const std::string suffix = makeEntrySuffix(entry.method);
  const TextEntryParts parts{prefix, suffix, entry.fields};
  const std::size_t start = line.size();
  line.resize(start + textEntryLineBound(parts));
  line.resize(start + writeTextEntryLine(line.data() + start, parts));
}

std::string makeEntryPrefix(const MethodText& method) {
  std::string prefix;
  prefix.append(method.returnType)
      .append(" ")
      .append(method.packageName)
      .append(".")
      .append(method.className)
      .append("(");
  return prefix;
}

std::string makeEntrySuffix(const MethodText& method) {
  std::string suffix(").");
  suffix.append(method.methodName).append("(").append(method.parameterList).append("){\n");
  return suffix;
}

std::size_t textEntryLineBound(const TextEntryParts& entry) {
  // "@" digits " ", digits " ", "+" digits " ", "From:" location " ", prefix,
  // digits, suffix.
  return 4 * (kMaxDecimalChars + 2) + 6 + entry.fields.callerLocation.size() +
         entry.prefix.size() + entry.suffix.size();
}

std::size_t writeTextEntryLine(char* out, const TextEntryParts& entry) {
  const TextEntryFields& fields = entry.fields;
  char* at = writeThreadPiece(out, fields.withThreadNumber, fields.threadNumber);
  if (fields.withCallNumber) {
    at = writeDecimal(at, fields.callNumber);
    *at++ = ' ';
  }
  if (!fields.callerLocation.empty()) {
    at = copyText(at, "From:");
    at = copyText(at, fields.callerLocation);
    *at++ = ' ';
  }
  if (fields.time) {
    at = writeTimePiece(at, *fields.time);
    *at++ = ' ';
  }
  at = copyText(at, entry.prefix);
  at = writeDecimal(at, fields.receiverTag);
  at = copyText(at, entry.suffix);
  return static_cast<std::size_t>(at - out);
}

std::size_t textExitLineBound(std::string_view exceptionClass) {
  return 2 * (kMaxDecimalChars + 2) + 3 + exceptionClass.size();
}

std::size_t writeTextExitLine(char* out, bool withThreadNumber, int32_t threadNumber,
                              bool poppedByException, std::string_view exceptionClass,
                              const std::optional<int64_t>& time) {
  char* at = writeThreadPiece(out, withThreadNumber, threadNumber);
  *at++ = '}';
  if (time) {
    *at++ = ' ';
    at = writeTimePiece(at, *time);
  }
  if (poppedByException) {
    *at++ = ' ';
    at = copyText(at, exceptionClass);
  }
  *at++ = '\n';
  return static_cast<std::size_t>(at - out);
}

void appendTextExitLine(std::string& line, bool withThreadNumber, int32_t threadNumber,
                        bool poppedByException, std::string_view exceptionClass,
                        std::optional<int64_t> time) {
  const std::size_t start = line.size();
  line.resize(start + textExitLineBound(exceptionClass));
  line.resize(start + writeTextExitLine(line.data() + start, withThreadNumber, threadNumber,
                                        poppedByException, exceptionClass, time));
}

std::string makeThreadHeaderLine(int32_t threadNumber, std::string_view name) {
  std::string line = "@thread ";
  appendDecimal(line, threadNumber);
  line.append(" = \"");
  appendEscapedName(line, name);
  line.append("\"\n");
  return line;
}

TextLine parseTextLine(std::string_view line) {
  TextLine out;
  constexpr std::string_view kHeader = "@thread ";
  if (line.rfind(kHeader, 0) == 0) {
    const std::size_t equals = line.find(" = \"");
    if (equals != std::string_view::npos && line.size() >= equals + 5 && line.back() == '"') {
      out.thread = threadNumber(line.substr(kHeader.size(), equals - kHeader.size()));
      if (out.thread) {
        out.threadName = unescapeName(line.substr(equals + 4, line.size() - equals - 5));
        out.kind = TextLine::Kind::Header;
      }
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
    rest.remove_prefix(1);
    if (rest.rfind(" +", 0) == 0) {
      std::string_view afterBlank = rest.substr(1);
      if ((out.time = takeTime(afterBlank))) rest = afterBlank;
    }
    if (!rest.empty()) out.exception = rest.substr(1);
    out.kind = TextLine::Kind::Exit;
    return out;
  }
  // The call number is a word of digits; a return type never is.
  std::size_t space = rest.find(' ');
  if (space != std::string_view::npos) {
    if (const std::optional<int64_t> call = parseNumber(rest.substr(0, space))) {
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
  if ((out.time = takeTime(rest))) {
    if (rest.empty()) return out;
    rest.remove_prefix(1);
  }
  if (parseEntryBody(rest, out)) out.kind = TextLine::Kind::Entry;
  return out;
}

}  // namespace kolvaprof
