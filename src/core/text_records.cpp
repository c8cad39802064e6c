#include "core/text_records.h"

#include <charconv>

#include "registry/method_info.h"

namespace kolvaprof {
namespace {

template <typename Integer>
void appendNumber(std::string& line, Integer value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  line.append(digits, end);
}

void appendThreadPiece(std::string& line, bool withThreadNumber, int32_t threadNumber) {
  if (!withThreadNumber) return;
  line.push_back('@');
  appendNumber(line, threadNumber);
  line.push_back(' ');
}

}  // namespace

void appendTextEntryLine(std::string& line, const TextEntryFields& fields) {
  appendThreadPiece(line, fields.withThreadNumber, fields.threadNumber);
  if (fields.withCallNumber) {
    appendNumber(line, fields.callNumber);
    line.push_back(' ');
  }
  if (!fields.callerLocation.empty()) {
    line.append("From:").append(fields.callerLocation).push_back(' ');
  }
  const MethodInfo& method = fields.method;
  line.append(method.getReturnType())
      .append(" ")
      .append(method.getPackageName())
      .append(".")
      .append(method.getClassName())
      .append("(");
  appendNumber(line, fields.receiverTag);
  line.append(").")
      .append(method.getMethodName())
      .append("(")
      .append(method.getParameterList())
      .append("){\n");
}

void appendTextExitLine(std::string& line, bool withThreadNumber, int32_t threadNumber,
                        bool poppedByException, const std::string& exceptionClass) {
  appendThreadPiece(line, withThreadNumber, threadNumber);
  line.push_back('}');
  if (poppedByException) line.append(" ").append(exceptionClass);
  line.push_back('\n');
}

}  // namespace kolvaprof
