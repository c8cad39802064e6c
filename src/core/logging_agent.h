#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/thread/mutex.hpp>

#include "config/logging_options.h"
#include "config/settings.h"
#include "core/call_site.h"
#include "core/clock.h"

namespace kolvaprof {

class IndexFile;
class LogFile;
class MethodInfo;
class ThreadContext;

inline constexpr const char* kVersionText = "1.5.1";
inline constexpr const char* kLogExtension = ".log";

// The logging core: settings, counters, shared files, and the turning of
// method entries and exits into records. It knows nothing of how calls are
// caught; what it needs to know about a call it asks the engine's CallSite.
class CLoggingAgent {
 public:
  // Prints the banner; the clock gives the start stamp and the shutdown wait.
  explicit CLoggingAgent(const Clock& clock = systemClock());
  virtual ~CLoggingAgent();
  CLoggingAgent(const CLoggingAgent&) = delete;
  CLoggingAgent& operator=(const CLoggingAgent&) = delete;

  // Acts on the settings of the run, once, before the first event: echoes
  // them, makes the log directories asked for, prepares the shared log and
  // index files, and hands the filters to the method registry.
  void configure(const Settings& settings);

  const LoggingOptions& options() const { return settings; }
  bool verbose() const { return settings.verbose; }
  bool ignoreBuiltInClass() const { return settings.ignoreBuiltInClass; }
  const std::string& startTimeStamp() const { return startTime; }
  const std::string& logDirectory() const { return settings.logDirectory; }
  LogFile* sharedLogFile() const { return sharedLog.get(); }
  IndexFile* indexFile() const { return index.get(); }

  int64_t allocateObjectTag();
  void setLastExceptionClass(const std::string& className);
  std::string lastExceptionClass() const;

  ThreadContext* createThreadContext(ThreadKey threadKey);

  void logMethodEntry(CallSite& site, jmethodID method, const MethodInfo& info);
  void logMethodExit(CallSite& site, jmethodID method, const MethodInfo& info,
                     bool poppedByException);

 private:
  bool passesFilterGate(const MethodInfo& info, CallSite& site);
  int64_t receiverTag(CallSite& site, const MethodInfo& info, ReceiverTagMode when);
  void writeTextEntry(CallSite& site, const MethodInfo& info, int64_t receiverTag,
                      int64_t callNumber, ThreadContext* context);
  void writeBinaryEntry(jmethodID method, const MethodInfo& info, int64_t receiverTag,
                        int64_t callNumber, ThreadContext* context);
  void writeExit(ThreadContext* context, bool poppedByException);

  const Clock& clock;
  LoggingOptions settings;
  std::string startTime;
  // True while logDirectory is the run's default, which is made on first use.
  bool defaultLogDirectory = true;
  mutable boost::mutex exceptionClassLock;
  std::string lastException;
  std::unique_ptr<LogFile> sharedLog;
  std::unique_ptr<IndexFile> index;
  // Both counters are taken on the per-call path by every thread; an atomic
  // increment hands out the same unique, rising numbers without a lock.
  std::atomic<int64_t> nextObjectTag{1};
  std::atomic<int64_t> nextCallNumber{1};
};

}  // namespace kolvaprof
