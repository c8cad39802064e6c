#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "config/logging_options.h"
#include "config/settings.h"
#include "core/call_site.h"
#include "core/clock.h"
#include "format/binary_record.h"
#include "format/run_manifest.h"
#include "registry/method_info.h"

namespace kolvaprof {

class IndexFile;
class LogFile;
class RunDirectory;
class ThreadContext;
class VirtualThreadLog;

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

  // Acts on the settings of the run, once, before the first event: takes the
  // log directories asked for, echoes the settings with the names the
  // directories really have, prepares the shared log and index files, and
  // hands the filters to the method registry.
  void configure(const Settings& settings);

  const LoggingOptions& options() const { return settings; }
  bool verbose() const { return settings.verbose; }
  bool ignoreBuiltInClass() const { return settings.ignoreBuiltInClass; }
  const std::string& startTimeStamp() const { return startTime; }
  // Where per-thread logs go, under the name the directory really has once
  // it is taken.
  std::string logDirectory() const;
  LogFile* sharedLogFile() const { return sharedLog.get(); }
  IndexFile* indexFile() const { return index.get(); }

  // Once the engine is chosen: run.json goes into every run directory,
  // now or when it is made, and is rewritten complete at a clean end.
  void describeRun(const std::string& engine, RunManifest::Jvm jvm);

  int64_t allocateObjectTag();
  // The Exception event arrives on the throwing thread: the class is kept for
  // that thread's exits.
  void setLastExceptionClass(ThreadKey thread, const std::string& className);

  ThreadContext* createThreadContext(ThreadKey threadKey);

  void logMethodEntry(CallSite& site, const MethodInfo& info);
  void logMethodExit(CallSite& site, const MethodInfo& info,
                     bool poppedByException);
  // Writes the exit of the thread's innermost call if it is of this method:
  // for a frame whose exit the VM never reports.
  void closeInnermostCall(ThreadKey thread, const MethodInfo* method);

  // A call of this method passes every gate on any thread that has its
  // context already, and needs nothing of its call site but the receiver's
  // number: an engine may log its entry and exit the short way below, with
  // the records the two calls above would write.
  bool isPlainCall(const MethodInfo& info) const {
    return plainCalls && !info.isExcluded() && !info.isStartMethod();
  }
  void logPlainEntry(ThreadContext& context, const MethodInfo& info, int64_t receiverNumber) {
    writePlainEntry(context, info, receiverNumber, recordTime());
  }
  void logPlainExit(ThreadContext& context, const MethodInfo& info) {
    leaveInnermost(context, info, false);
  }
  // Entry and exit at once, for a call whose own code ran in less time than
  // reading the clock takes: both records carry one time, read now.
  void logPlainCall(ThreadContext& context, const MethodInfo& info, int64_t receiverNumber);

 private:
  ThreadContext* createVirtualThreadContext(ThreadKey threadKey, std::string name, int32_t number);
  bool passesFilterGate(const MethodInfo& info, CallSite& site);
  // The record's time when RecordTime is on.
  std::optional<int64_t> recordTime() const {
    if (!settings.recordTime) return std::nullopt;
    return runClock->sinceStart();
  }
  int64_t receiverTag(CallSite& site, const MethodInfo& info, ReceiverTagMode when);
  // Numbered only when records show the number: the shared increment is the
  // one write every thread's calls would otherwise contend on.
  int64_t takeCallNumber() {
    return settings.recordMethodCallCount ? nextCallNumber.fetch_add(1, std::memory_order_relaxed)
                                          : 0;
  }
  // Past the gates. The site, when there is one, gives the caller's location.
  void writePlainEntry(ThreadContext& context, const MethodInfo& info, int64_t receiverNumber,
                       const std::optional<int64_t>& time);
  void writeEntry(CallSite* site, const MethodInfo& info, int64_t receiverTag,
                  int64_t callNumber, ThreadContext* context, const std::optional<int64_t>& time);
  void leaveInnermost(ThreadContext& context, const MethodInfo& info, bool poppedByException);
  void writeTextEntry(CallSite* site, const MethodInfo& info, int64_t receiverTag,
                      int64_t callNumber, const std::optional<int64_t>& time,
                      ThreadContext* context);
  void writeBinaryEntry(const MethodInfo& info, int64_t receiverTag,
                        int64_t callNumber, int64_t time, ThreadContext* context);
  void writeExit(ThreadContext* context, bool poppedByException,
                 const std::optional<int64_t>& time);
  // run.json as it stands, into every run directory (those not made yet
  // take it when they are).
  void keepManifest();
  // One object per name asked for, so that every file of a directory sees
  // the name it was really taken under.
  std::shared_ptr<RunDirectory> runDirectory(const std::string& path);

  const Clock& clock;
  // Started by configure when RecordTime is on: the run starts there.
  std::unique_ptr<RunClock> runClock;
  LoggingOptions settings;
  // No start method gates any call and no record shows its caller's place.
  bool plainCalls = false;
  // Of the binary records, from the settings: kept whole rather than built
  // field by field on every call.
  RecordLayout recordLayout;
  // The layout of compact blocks, when the records are written in them.
  std::optional<RecordLayout> compactLayout() const {
    if (!settings.compressLogfile || !settings.compactRecords) return std::nullopt;
    return recordLayout;
  }
  std::string startTime;
  // What run.json says; its start is fixed by configure and describeRun.
  RunManifest manifest;
  // By the name the settings ask for; the same directory for every file
  // that asks for that name.
  std::map<std::string, std::shared_ptr<RunDirectory>> runDirectories;
  std::shared_ptr<RunDirectory> threadLogDirectory;
  std::unique_ptr<LogFile> sharedLog;
  std::unique_ptr<IndexFile> index;
  // Beside the shared log, or in the directory of per-thread logs.
  std::unique_ptr<VirtualThreadLog> virtualThreadLog;
  // Both counters are taken on the per-call path by every thread; an atomic
  // increment hands out the same unique, rising numbers without a lock.
  std::atomic<int64_t> nextObjectTag{1};
  std::atomic<int64_t> nextCallNumber{1};
};

}  // namespace kolvaprof
