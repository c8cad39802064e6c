#include "format/index_line.h"

#include <limits>

#include "format/decimal.h"
#include "format/name_escape.h"

namespace kolvaprof {

std::string makeIndexThreadLine(int32_t threadNumber, std::string_view name) {
  std::string line = "Thread ";
  appendDecimal(line, threadNumber);
  line.append("=\"");
  appendEscapedName(line, name);
  line.append("\"\n");
  return line;
}

std::string makeIndexMethodLine(int32_t number, const MethodText& method) {
  std::string line = "Method ";
  appendDecimal(line, number);
  line.append("=")
      .append(method.returnType)
      .append(" ")
      .append(method.packageName)
      .append(".")
      .append(method.className)
      .append(".")
      .append(method.methodName)
      .append("(")
      .append(method.parameterList)
      .append("){\n");
  return line;
}

std::optional<MethodText> parseMethodDeclaration(std::string_view text) {
  if (text.size() < 2 || text.substr(text.size() - 2) != "){") return std::nullopt;
  const std::string_view body = text.substr(0, text.size() - 1);
  const std::size_t open = body.rfind('(');
  const std::size_t space = body.find(' ');
  if (open == std::string_view::npos || space == std::string_view::npos || space == 0 || space > open)
    return std::nullopt;
  const std::string_view qualified = body.substr(space + 1, open - space - 1);
  const std::size_t methodDot = qualified.rfind('.');
  if (methodDot == std::string_view::npos || methodDot + 1 == qualified.size()) return std::nullopt;
  const std::size_t classDot = qualified.rfind('.', methodDot == 0 ? 0 : methodDot - 1);
  if (methodDot == 0 || classDot == std::string_view::npos || classDot + 1 == methodDot) return std::nullopt;
  return MethodText{body.substr(0, space), qualified.substr(0, classDot),
                    qualified.substr(classDot + 1, methodDot - classDot - 1), qualified.substr(methodDot + 1),
                    body.substr(open + 1, body.size() - open - 2)};
}

IndexLine parseIndexLine(std::string_view line) {
  IndexLine out;
  const bool isMethod = line.rfind("Method ", 0) == 0;
  const bool isThread = line.rfind("Thread ", 0) == 0;
  const std::size_t equals = line.find('=');
  if (!(isMethod || isThread) || equals == std::string_view::npos) return out;
  const std::optional<int64_t> number = parseNumber(line.substr(7, equals - 7));
  if (!number || *number > std::numeric_limits<int32_t>::max()) return out;
  out.number = static_cast<int32_t>(*number);
  const std::string_view value = line.substr(equals + 1);
  if (isThread) {
    out.kind = IndexLine::Kind::Thread;
    if (value.empty() || value.front() != '"') {
      out.fault = IndexLineFault::MalformedThread;
      return out;
    }
    const bool closed = value.size() >= 2 && value.back() == '"';
    out.threadName = unescapeName(value.substr(1, value.size() - (closed ? 2 : 1)));
    out.fault = closed ? IndexLineFault::None : IndexLineFault::UnterminatedThread;
    return out;
  }
  const std::optional<MethodText> method = parseMethodDeclaration(value);
  if (!method || out.number == 0) {
    out.fault = IndexLineFault::MalformedMethod;
    return out;
  }
  out.method = *method;
  out.fault = IndexLineFault::None;
  return out;
}

}  // namespace kolvaprof
