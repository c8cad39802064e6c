#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "output/log_file.h"
#include "registry/method_info.h"
#include "registry/method_table.h"

namespace kolvaprof {

class RunDirectory;
class ThreadContext;

struct MethodNumber {
  int32_t number;
  bool isNew;  // assigned by this call
};

// Numbers methods 1, 2, 3 ... in the order of their first logged call. Every
// logged call asks for its method's number, so a number already given is
// found without the lock; only handing out a new one takes it.
class MethodNumbers {
 public:
  MethodNumber methodNumberFor(const MethodInfo* method);
  static MethodNumbers& instance();
  int32_t count() {
    boost::lock_guard<boost::mutex> guard(methodNumberLock);
    return assigned;
  }

 private:
  boost::mutex methodNumberLock;
  MethodTable<int32_t> methodNumbers;
  int32_t assigned = 0;
};

// Index.dat: the names behind the numbers of binary records.
class IndexFile {
 public:
  explicit IndexFile(std::shared_ptr<RunDirectory> directory,
                     MethodNumbers& numbers = MethodNumbers::instance());

  static std::string fileName();

  void writeThreadLine(const ThreadContext& context);
  void writeMethodLine(int32_t number, const MethodInfo& info);
  MethodNumber methodNumberFor(const MethodInfo* method) { return numbers.methodNumberFor(method); }
  // Methods named so far: one Method line each.
  int32_t methodsNumbered() { return numbers.count(); }
  // The method's number for a record, its line written first if the number
  // is new: whoever else logs the method meanwhile waits for that line, so
  // no record ever names a method the index does not hold yet.
  int32_t recordNumberFor(const MethodInfo& info) {
    if (const int32_t known = info.binaryNumber()) return known;
    return numberFirstRecord(info);
  }

 private:
  int32_t numberFirstRecord(const MethodInfo& info);

  LogFile logFile;
  MethodNumbers& numbers;
  boost::mutex firstRecordLock;
};

}  // namespace kolvaprof
