#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "output/log_file.h"
#include "registry/method_info.h"

namespace kolvaprof {

class RunDirectory;
class ThreadContext;

// Index.dat: the names behind the numbers of binary records.
class IndexFile {
 public:
  explicit IndexFile(std::shared_ptr<RunDirectory> directory);

  static std::string fileName();

  void writeThreadLine(const ThreadContext& context);
  void writeMethodLine(int32_t number, const MethodInfo& info);
  // The method's number for a record, its line written first if the number
  // is new: whoever else logs the method meanwhile waits for that line, so
  // no record ever names a method the index does not hold yet. Methods are
  // numbered 1, 2, 3 ... in the order of their first record; the number is
  // kept in the method's record, so a known one is read without the lock.
  int32_t recordNumberFor(const MethodInfo& info) {
    if (const int32_t known = info.binaryNumber()) return known;
    return numberFirstRecord(info);
  }
  // Methods named so far: one Method line each.
  int32_t methodsNumbered() {
    boost::lock_guard<boost::mutex> guard(firstRecordLock);
    return assigned;
  }

 private:
  int32_t numberFirstRecord(const MethodInfo& info);

  LogFile logFile;
  boost::mutex firstRecordLock;
  int32_t assigned = 0;  // firstRecordLock held
};

}  // namespace kolvaprof
