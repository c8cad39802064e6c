#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kolvaprof {

// Fetching a receiver is a VM operation at a safepoint and costs far more
// than the event itself, so the user may choose when it is done.
enum class ReceiverTagMode : int32_t {
  Never = 0,        // no receiver is fetched; every record carries 0
  BeforeGates = 1,  // every instance-method entry, logged or not (default)
  LoggedOnly = 2,   // only entries that pass the start-method and filter gates
};

// How calls are caught: JVMTI method events (which keep every traced thread
// in the interpreter) or hook calls put into the classes' bytecode as they
// load (which leaves the JIT on).
enum class CaptureMode : int32_t { Events, Bytecode };

// The settings of the core, each with its default; the settings file is the
// only thing that changes them, and only before the first event.
struct LoggingOptions {
  bool verbose = false;
  bool ignoreBuiltInClass = false;
  bool getFilteredMethod = false;
  bool compressLogfile = false;
  // Binary records in compressed blocks of small integers (CompressLogfile=2).
  bool compactRecords = false;
  bool separateLogfilePerThread = true;
  bool recordThreadId = false;
  bool ignoreFilteredMethods = true;
  bool recordMethodCallCount = false;
  int32_t recordCallerLocation = 0;
  // Each entry and exit record carries the nanoseconds since the run was
  // configured (RecordTime).
  bool recordTime = false;
  // When receivers are fetched and tagged (ReceiverTags).
  ReceiverTagMode receiverTags = ReceiverTagMode::BeforeGates;
  CaptureMode captureMode = CaptureMode::Events;
  std::string logDirectory;  // as asked for (the run may take another); ends in '/'
  // Patterns as written; the registry compiles them.
  std::vector<std::string> startMethods;
  std::vector<std::string> packageFilters;
  std::vector<std::string> classFilters;
  std::vector<std::string> methodFilters;
};

}  // namespace kolvaprof
