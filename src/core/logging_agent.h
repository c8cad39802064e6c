#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include <boost/thread/mutex.hpp>

#include "core/logging_options.h"

namespace kolvaprof {

class IndexFile;
class LogFile;
class MethodInfo;
class ThreadContext;

inline constexpr const char* kVersionText = "1.5.1";
inline constexpr const char* kSettingsFileName = "profiler.ini";
inline constexpr const char* kLogExtension = ".log";

// The logging core: settings, counters, shared files, and the turning of
// method entries and exits into records. It knows nothing of JVMTI; the
// questions about the caller are answered by a derived class.
class CLoggingAgent {
 public:
  explicit CLoggingAgent(JavaVM* vm);
  virtual ~CLoggingAgent();
  CLoggingAgent(const CLoggingAgent&) = delete;
  CLoggingAgent& operator=(const CLoggingAgent&) = delete;

  // The record of the method that called the current one, or null.
  virtual const MethodInfo* getCallerMethod(ThreadContext* context, int32_t depth) = 0;
  // Where in the caller the call was made, as text; empty means no location.
  virtual std::string getCallerBytecodeIndex(ThreadContext* context, int32_t depth);
  virtual std::string getCallerSourceLine(ThreadContext* context, int32_t depth);
  // The receiver tag of the method just entered, asked only for entries that
  // are logged while ReceiverTags is 2; 0 means no receiver.
  virtual jlong getReceiverTag(jmethodID method);

  // Passed as the receiver tag of an entry whose receiver is to be fetched
  // only once the entry is known to be logged.
  static constexpr jlong kDeferredReceiverTag = -1;

  JavaVM* getJavaVm() const { return javaVm; }
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

  // Settings file: read once, at load time.
  void loadSettings(const std::string& optionString);
  void applySetting(const std::string& key, const std::string& value);

  // Registry: the caller holds MethodRegistry::registrationLock().
  bool isClassRegistered(const std::string& dottedName) const;
  void markClassRegistered(const std::string& dottedName);
  void addMethod(jmethodID method, const std::string& packageName, const std::string& className,
                 const std::string& methodName, const std::string& signature, bool excluded);
  bool evaluateFilters(const std::string& packageName, const std::string& className,
                       const std::string& methodName) const;
  bool matchesStartMethod(const std::string& packageName, const std::string& className,
                          const std::string& methodName) const;

  ThreadContext* createThreadContext(JNIEnv* threadKey);

  void logMethodEntry(jmethodID method, const MethodInfo* info, jlong receiverTag,
                      JNIEnv* threadKey);
  void logMethodExit(jmethodID method, JNIEnv* threadKey, bool poppedByException);

 private:
  bool passesFilterGate(const MethodInfo& info, ThreadContext* context);
  void writeTextEntry(const MethodInfo& info, jlong receiverTag, int64_t callNumber,
                      ThreadContext* context);
  void writeBinaryEntry(jmethodID method, const MethodInfo& info, jlong receiverTag,
                        int64_t callNumber, ThreadContext* context);
  void writeExit(ThreadContext* context, bool poppedByException);
  // True while logDirectory is the run's default, which is made on first use.
  bool defaultLogDirectory() const { return !logDirectorySet; }

  JavaVM* javaVm;
  LoggingOptions settings;
  std::string startTime;
  bool logDirectorySet = false;
  mutable boost::mutex exceptionClassLock;
  std::string lastException;
  std::unordered_set<std::string> registeredClasses;
  std::unique_ptr<LogFile> sharedLog;
  std::unique_ptr<IndexFile> index;
  // Both counters are taken on the per-call path by every thread; an atomic
  // increment hands out the same unique, rising numbers without a lock.
  std::atomic<int64_t> nextObjectTag{1};
  std::atomic<int64_t> nextCallNumber{1};
};

}  // namespace kolvaprof
