#include "format/text_line.h"

#include "format/decimal.h"

namespace kolvaprof {
namespace {

void appendThreadPiece(std::string& line, bool withThreadNumber, int32_t threadNumber) {
  if (!withThreadNumber) return;
  line.push_back('@');
  appendDecimal(line, threadNumber);
  line.push_back(' ');
}

}  // namespace

void appendTextEntryLine(std::string& line, const TextEntry& entry) {
  appendThreadPiece(line, entry.withThreadNumber, entry.threadNumber);
  if (entry.withCallNumber) {
    appendDecimal(line, entry.callNumber);
    line.push_back(' ');
  }
  if (!entry.callerLocation.empty()) {
    line.append("From:").append(entry.callerLocation).push_back(' ');
  }
  const MethodText& method = entry.method;
  line.append(method.returnType)
      .append(" ")
      .append(method.packageName)
      .append(".")
      .append(method.className)
      .append("(");
  appendDecimal(line, entry.receiverTag);
  line.append(").")
      .append(method.methodName)
      .append("(")
      .append(method.parameterList)
      .append("){\n");
}

void appendTextExitLine(std::string& line, bool withThreadNumber, int32_t threadNumber,
                        bool poppedByException, std::string_view exceptionClass) {
  appendThreadPiece(line, withThreadNumber, threadNumber);
  line.push_back('}');
  if (poppedByException) line.append(" ").append(exceptionClass);
  line.push_back('\n');
}

std::string makeThreadHeaderLine(int32_t threadNumber, std::string_view name) {
  std::string line = "@thread ";
  appendDecimal(line, threadNumber);
  line.append(" = \"").append(name).append("\"\n");
  return line;
}

}  // namespace kolvaprof
