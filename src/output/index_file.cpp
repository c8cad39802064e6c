#include "output/index_file.h"

#include <boost/thread/lock_guard.hpp>

#include "output/thread_context.h"
#include "registry/method_info.h"

namespace kolvaprof {

MethodNumber MethodNumbers::methodNumberFor(jmethodID method) {
  if (const int32_t known = methodNumbers.find(method)) return {known, false};
  boost::lock_guard<boost::mutex> guard(methodNumberLock);
  if (const int32_t known = methodNumbers.find(method)) return {known, false};
  const int32_t number = ++assigned;
  methodNumbers.insert(method, number);
  return {number, true};
}

MethodNumbers& MethodNumbers::instance() {
  static MethodNumbers* numbers = new MethodNumbers;
  return *numbers;
}

IndexFile::IndexFile(const std::string& logDirectory, bool createDirectory,
                     MethodNumbers& numbers)
    : logFile(logDirectory, "Index", ".dat", createDirectory), numbers(numbers) {}

std::string IndexFile::fileName() { return "Index.dat"; }

void IndexFile::writeThreadLine(const ThreadContext& context) {
  logFile.write(makeIndexThreadLine(context.threadNumber(), context.name()));
}

void IndexFile::writeMethodLine(int32_t number, const MethodInfo& info) {
  logFile.write(makeIndexMethodLine(number, info));
}

std::string makeIndexThreadLine(int32_t threadNumber, const std::string& name) {
  std::string line = "Thread ";
  line.append(std::to_string(threadNumber)).append("=\"").append(name).append("\"\n");
  return line;
}

std::string makeIndexMethodLine(int32_t number, const MethodInfo& info) {
  std::string line = "Method ";
  line.append(std::to_string(number))
      .append("=")
      .append(info.getReturnType())
      .append(" ")
      .append(info.getPackageName())
      .append(".")
      .append(info.getClassName())
      .append(".")
      .append(info.getMethodName())
      .append("(")
      .append(info.getParameterList())
      .append("){\n");
  return line;
}

}  // namespace kolvaprof
