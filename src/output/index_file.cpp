#include "output/index_file.h"

#include <utility>

#include <boost/thread/lock_guard.hpp>

#include "format/index_line.h"
#include "output/thread_context.h"
#include "registry/method_info.h"

namespace kolvaprof {

MethodNumber MethodNumbers::methodNumberFor(const MethodInfo* method) {
  if (const int32_t known = methodNumbers.find(method)) return {known, false};
  boost::lock_guard<boost::mutex> guard(methodNumberLock);
  if (const int32_t known = methodNumbers.find(method)) return {known, false};
  const int32_t number = ++assigned;
  methodNumbers.insert(method, number);
  return {number, true};
}

void MethodNumbers::reset() {
  boost::lock_guard<boost::mutex> guard(methodNumberLock);
  methodNumbers.clear();
  assigned = 0;
}

MethodNumbers& MethodNumbers::instance() {
  static MethodNumbers* numbers = new MethodNumbers;
  return *numbers;
}

IndexFile::IndexFile(std::shared_ptr<RunDirectory> directory, MethodNumbers& numbers)
    : logFile(std::move(directory), "Index", ".dat"), numbers(numbers) {}

std::string IndexFile::fileName() { return kIndexFileName; }

void IndexFile::writeThreadLine(const ThreadContext& context) {
  logFile.write(makeIndexThreadLine(context.threadNumber(), context.name()));
}

int32_t IndexFile::numberFirstRecord(const MethodInfo& info) {
  boost::lock_guard<boost::mutex> guard(firstRecordLock);
  if (const int32_t known = info.binaryNumber()) return known;
  const MethodNumber numbered = numbers.methodNumberFor(&info);
  if (numbered.isNew) writeMethodLine(numbered.number, info);
  info.setBinaryNumber(numbered.number);
  return numbered.number;
}

void IndexFile::writeMethodLine(int32_t number, const MethodInfo& info) {
  logFile.write(makeIndexMethodLine(number, info.text()));
}

}  // namespace kolvaprof
