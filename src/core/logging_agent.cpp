#include "core/logging_agent.h"

#include <ctime>
#include <iostream>

#include <boost/thread/lock_guard.hpp>

#include "core/console.h"
#include "core/start_time.h"
#include "format/text_line.h"
#include "output/index_file.h"
#include "output/log_file.h"
#include "output/thread_registry.h"
#include "registry/method_registry.h"
#include "registry/patterns.h"

namespace kolvaprof {

CLoggingAgent::CLoggingAgent(JavaVM* vm) : javaVm(vm) {
  startTime = formatStartTimeStamp(std::time(nullptr));
  settings.logDirectory = startTime + "/";
  printMessage(&std::cout, std::string("version ") + kVersionText);
  printMessage(&std::cout, currentWorkingDirectory());
  printMessage(&std::cout, "initializing ..... ");
}

CLoggingAgent::~CLoggingAgent() {
  waitForNextSecond(std::time(nullptr));
  printMessage(&std::cout, "exit");
  MethodRegistry::instance().destroyAll();
  // Per-thread files are complete on disk before the shared files close.
  ThreadRegistry::instance().destroyAllContexts();
  settings.startMethods.clear();
  PatternStores& stores = PatternStores::instance();
  settings.packageFilters.clear();
  settings.classFilters.clear();
  settings.methodFilters.clear();
  stores.packagePatternStore.clear();
  stores.classPatternStore.clear();
  stores.methodPatternStore.clear();
  index.reset();
  sharedLog.reset();
}

std::string CLoggingAgent::getCallerBytecodeIndex(ThreadContext*, int32_t) { return std::string(); }

std::string CLoggingAgent::getCallerSourceLine(ThreadContext*, int32_t) { return std::string(); }

jlong CLoggingAgent::getReceiverTag(jmethodID) { return 0; }

int64_t CLoggingAgent::allocateObjectTag() {
  return nextObjectTag.fetch_add(1, std::memory_order_relaxed);
}

void CLoggingAgent::setLastExceptionClass(const std::string& className) {
  boost::lock_guard<boost::mutex> guard(exceptionClassLock);
  lastException = className;
}

std::string CLoggingAgent::lastExceptionClass() const {
  boost::lock_guard<boost::mutex> guard(exceptionClassLock);
  return lastException;
}

ThreadContext* CLoggingAgent::createThreadContext(JNIEnv* threadKey) {
  ThreadRegistry& registry = ThreadRegistry::instance();
  std::string name = registry.resolveName(threadKey);
  const int32_t number = registry.takeThreadNumber();
  LogFile* logFile = sharedLog.get();
  const bool ownFile = settings.separateLogfilePerThread;
  if (ownFile) {
    logFile = new LogFile(settings.logDirectory, name, kLogExtension, defaultLogDirectory(),
                          LogFile::Writers::One);
  }
  auto* context = new ThreadContext(std::move(name), number, logFile, ownFile);
  if (settings.recordThreadId) {
    if (!settings.compressLogfile) {
      context->setPendingHeader(makeThreadHeaderLine(number, context->name()));
    } else if (index) {
      index->writeThreadLine(*context);
    }
  }
  registry.addContext(threadKey, context);
  return context;
}

}  // namespace kolvaprof
