#include "output/index_file.h"

#include <utility>

#include <boost/thread/lock_guard.hpp>

#include "format/index_line.h"
#include "output/thread_context.h"
#include "registry/method_info.h"

namespace kolvaprof {

IndexFile::IndexFile(std::shared_ptr<RunDirectory> directory)
    : logFile(std::move(directory), "Index", ".dat") {}

std::string IndexFile::fileName() { return kIndexFileName; }

void IndexFile::writeThreadLine(const ThreadContext& context) {
  logFile.write(makeIndexThreadLine(context.threadNumber(), context.name()));
}

int32_t IndexFile::numberFirstRecord(const MethodInfo& info) {
  boost::lock_guard<boost::mutex> guard(firstRecordLock);
  if (const int32_t known = info.binaryNumber()) return known;
  const int32_t number = ++assigned;
  writeMethodLine(number, info);
  info.setBinaryNumber(number);
  return number;
}

void IndexFile::writeMethodLine(int32_t number, const MethodInfo& info) {
  logFile.write(makeIndexMethodLine(number, info.text()));
}

}  // namespace kolvaprof
