#include "format/index_line.h"

#include "format/decimal.h"

namespace kolvaprof {

std::string makeIndexThreadLine(int32_t threadNumber, std::string_view name) {
  std::string line = "Thread ";
  appendDecimal(line, threadNumber);
  line.append("=\"").append(name).append("\"\n");
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

}  // namespace kolvaprof
