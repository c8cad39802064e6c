#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kolvaprof {

class PackagePattern;
class ClassPattern;
class MethodPattern;

// The settings of the core, each with its default; the settings file is the
// only thing that changes them, and only before the first event.
struct LoggingOptions {
  bool verbose = false;
  bool ignoreBuiltInClass = false;
  bool getFilteredMethod = false;
  bool compressLogfile = false;
  bool separateLogfilePerThread = true;
  bool recordThreadId = false;
  bool ignoreFilteredMethods = true;
  bool recordMethodCallCount = false;
  int32_t recordCallerLocation = 0;
  std::string logDirectory;  // always ends in '/'
  std::vector<std::unique_ptr<MethodPattern>> startMethods;  // owned here
  // Filter patterns are owned by the process-wide pattern stores.
  std::vector<const PackagePattern*> packageFilters;
  std::vector<const ClassPattern*> classFilters;
  std::vector<const MethodPattern*> methodFilters;
};

}  // namespace kolvaprof
