// The two per-call paths: every method entry and exit of every Java thread
// comes through here, so they only look things up, take the call number with
// one atomic increment, and hand one finished record to the thread's file.
#include <iostream>

#include "core/logging_agent.h"
#include "format/binary_record.h"
#include "format/text_line.h"
#include "output/console.h"
#include "output/index_file.h"
#include "output/thread_registry.h"
#include "registry/method_info.h"

namespace kolvaprof {
namespace {

void printStartMethodLine(const MethodInfo& info, const char* what) {
  printMessage(&std::cout, "start method " + info.getPackageName() + "." + info.getClassName() +
                               "." + info.getMethodName() + " " + what);
}

}  // namespace

bool CLoggingAgent::passesFilterGate(const MethodInfo& info, CallSite& site) {
  if (!info.isExcluded()) return true;
  if (!settings.getFilteredMethod) return false;
  // Calls from recorded code into excluded code are shown, nothing inside it.
  const MethodInfo* caller = site.callerMethod();
  return caller != nullptr && !caller->isExcluded();
}

int64_t CLoggingAgent::receiverTag(CallSite& site, const MethodInfo& info, ReceiverTagMode when) {
  // The mode decides when a receiver is fetched, since that fixes which
  // objects take numbers (and in what order).
  if (settings.receiverTags != when || info.isStatic()) return 0;
  return site.receiverTag();
}

void CLoggingAgent::logMethodEntry(CallSite& site, const MethodInfo& info) {
  int64_t tag = receiverTag(site, info, ReceiverTagMode::BeforeGates);
  ThreadRegistry& registry = ThreadRegistry::instance();
  ThreadContext* context = registry.findContext(site.threadKey());
  if (context == nullptr) {
    // Made before any gate: a thread gets its number and name at its first
    // entry into a known method, logged or not.
    context = createThreadContext(site.threadKey());
  }

  const bool gatedByStartMethods = !settings.startMethods.empty();
  if (!info.isStartMethod()) {
    if (context->startDepth() <= 0 && gatedByStartMethods) return;
  } else {
    if (context->startDepth() == 0) printStartMethodLine(info, "invoked.");
    context->enterStartMethod();
  }

  if (!passesFilterGate(info, site)) return;

  context->pushCall(&info);
  const int64_t callNumber = takeCallNumber();
  // At most one of the two fetches happens, as the mode says.
  tag += receiverTag(site, info, ReceiverTagMode::LoggedOnly);
  // After the receiver fetch, which can wait for a safepoint: the call's time
  // should not include the agent's own wait.
  writeEntry(&site, info, tag, callNumber, context, recordTime());
}

void CLoggingAgent::writePlainEntry(ThreadContext& context, const MethodInfo& info,
                                    int64_t receiverNumber, const std::optional<int64_t>& time) {
  context.pushCall(&info);
  const int64_t callNumber = takeCallNumber();
  const bool fetched = settings.receiverTags != ReceiverTagMode::Never && !info.isStatic();
  writeEntry(nullptr, info, fetched ? receiverNumber : 0, callNumber, &context, time);
}

void CLoggingAgent::logPlainCall(ThreadContext& context, const MethodInfo& info,
                                 int64_t receiverNumber) {
  const std::optional<int64_t> time = recordTime();
  writePlainEntry(context, info, receiverNumber, time);
  writeExit(&context, false, time);
  context.popCall();
}

void CLoggingAgent::writeEntry(CallSite* site, const MethodInfo& info, int64_t receiverTag,
                               int64_t callNumber, ThreadContext* context,
                               const std::optional<int64_t>& time) {
  if (settings.compressLogfile) {
    writeBinaryEntry(info, receiverTag, callNumber, time.value_or(0), context);
  } else {
    writeTextEntry(site, info, receiverTag, callNumber, time, context);
  }
}

void CLoggingAgent::writeTextEntry(CallSite* site, const MethodInfo& info, int64_t receiverTag,
                                   int64_t callNumber, const std::optional<int64_t>& time,
                                   ThreadContext* context) {
  std::string location;
  if (site != nullptr && settings.recordCallerLocation == 1) {
    location = site->callerLocation(CallerLocation::BytecodeIndex);
  } else if (site != nullptr && settings.recordCallerLocation == 2) {
    location = site->callerLocation(CallerLocation::SourceLine);
  }
  const TextEntryParts entry{info.getEntryPrefix(),
                             info.getEntrySuffix(),
                             {receiverTag, settings.recordThreadId, context->threadNumber(),
                              settings.recordMethodCallCount, callNumber, location, time}};
  context->writeWith(textEntryLineBound(entry),
                     [&entry](char* out) { return writeTextEntryLine(out, entry); });
}

void CLoggingAgent::writeBinaryEntry(const MethodInfo& info,
                                     int64_t receiverTag, int64_t callNumber, int64_t time,
                                     ThreadContext* context) {
  // Binary mode always has its index file: the same setting makes both.
  const int32_t number = index->recordNumberFor(info);
  const RecordLayout layout = recordLayout;
  const std::size_t depth = context->callDepth();
  const int32_t threadNumber = context->threadNumber();
  // The exact size as the bound: a virtual thread's block fills by bounds.
  // Captured by value, so that only a write that goes the long way keeps
  // them in memory.
  context->writeWith(layout.bytes(), [=](char* out) {
    return encodeEntryRecord(reinterpret_cast<unsigned char*>(out), layout, number, receiverTag,
                             callNumber, depth, threadNumber, time);
  });
}

void CLoggingAgent::logMethodExit(CallSite& site, const MethodInfo& info,
                                  bool poppedByException) {
  ThreadContext* context = ThreadRegistry::instance().findContext(site.threadKey());
  if (context == nullptr) return;
  if (context->startDepth() <= 0 && !settings.startMethods.empty()) return;
  if (info.isStartMethod()) {
    context->leaveStartMethod();
    if (context->startDepth() == 0) printStartMethodLine(info, "exited.");
  }
  if (!passesFilterGate(info, site)) return;
  leaveInnermost(*context, info, poppedByException);
}

void CLoggingAgent::leaveInnermost(ThreadContext& context, const MethodInfo& info,
                                   bool poppedByException) {
  if (context.isCallStackEmpty() || context.topCall() != &info) return;
  writeExit(&context, poppedByException, recordTime());
  context.popCall();
}

void CLoggingAgent::closeInnermostCall(ThreadKey thread, const MethodInfo* method) {
  ThreadContext* context = ThreadRegistry::instance().findContext(thread);
  if (context != nullptr) leaveInnermost(*context, *method, false);
}

// The time goes by reference: an optional passed by value is rebuilt in
// memory and read back whole, which stalls on every call.
void CLoggingAgent::writeExit(ThreadContext* context, bool poppedByException,
                              const std::optional<int64_t>& time) {
  if (settings.compressLogfile) {
    const RecordLayout layout = recordLayout;
    const std::size_t depth = context->callDepth();
    const int32_t threadNumber = context->threadNumber();
    const int64_t at = time.value_or(0);
    context->writeWith(layout.bytes(), [=](char* out) {
      return encodeExitRecord(reinterpret_cast<unsigned char*>(out), layout, depth, threadNumber,
                              at);
    });
    return;
  }
  const std::string_view exception =
      poppedByException ? std::string_view(context->lastException()) : std::string_view();
  const bool withThreadNumber = settings.recordThreadId;
  const int32_t threadNumber = context->threadNumber();
  context->writeWith(textExitLineBound(exception), [&](char* out) {
    return writeTextExitLine(out, withThreadNumber, threadNumber, poppedByException, exception,
                             time);
  });
}

}  // namespace kolvaprof
