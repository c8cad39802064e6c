#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "format/method_text.h"

namespace kolvaprof {

// Everything the per-call paths need to know about one method, settled once
// at class registration and never changed afterwards, so readers need no lock;
// only the binary method number arrives later, once, at the first binary
// record of the method.
class MethodInfo {
 public:
  MethodInfo(std::string packageName, std::string className, std::string methodName,
             std::vector<std::string> parameterTypes, std::string returnType, bool excluded,
             bool startMethod, bool isStatic = false);

  const std::string& getPackageName() const { return packageName; }
  const std::string& getClassName() const { return className; }
  const std::string& getMethodName() const { return methodName; }
  const std::string& getReturnType() const { return returnType; }
  const std::vector<std::string>& getParameterTypes() const { return parameterTypes; }
  bool isExcluded() const { return excluded; }
  bool isStartMethod() const { return startMethod; }
  // Static methods have no receiver; known before the record is published,
  // so no thread can take a first argument for a receiver.
  bool isStatic() const { return staticMethod; }

  // The parameter type names joined by "," without blanks; empty for none.
  // Joined once, here, since every logged call of the method writes it.
  const std::string& getParameterList() const { return parameterList; }

  // A text entry line's pieces before and after the receiver number
  // (format/text_line.h), made here once rather than at every call.
  const std::string& getEntryPrefix() const { return entryPrefix; }
  const std::string& getEntrySuffix() const { return entrySuffix; }

  // The method's number in binary records, 0 until the index file has its
  // line: cached here so that a logged call needs no table lookup. Set once
  // (by the index file, after the line is written); release/acquire hands the
  // line's writing on to every thread that reads the number.
  int32_t binaryNumber() const { return binaryNumber_.load(std::memory_order_acquire); }
  void setBinaryNumber(int32_t number) const {
    binaryNumber_.store(number, std::memory_order_release);
  }

  // The names as the records spell them; views into this record.
  MethodText text() const {
    return MethodText{returnType, packageName, className, methodName, parameterList};
  }

 private:
  bool excluded;
  bool startMethod;
  bool staticMethod;
  std::string methodName;
  std::string className;
  std::string packageName;
  std::string returnType;
  std::vector<std::string> parameterTypes;
  std::string parameterList;
  std::string entryPrefix;
  std::string entrySuffix;
  mutable std::atomic<int32_t> binaryNumber_{0};
};

}  // namespace kolvaprof
