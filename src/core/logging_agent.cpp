#include "core/logging_agent.h"

#include <sys/stat.h>

#include <iostream>

#include <boost/thread/lock_guard.hpp>

#include "format/text_line.h"
#include "output/console.h"
#include "output/index_file.h"
#include "output/log_file.h"
#include "output/thread_registry.h"
#include "registry/method_filters.h"
#include "registry/method_registry.h"

namespace kolvaprof {

CLoggingAgent::CLoggingAgent(const Clock& clock) : clock(clock) {
  startTime = formatStartTimeStamp(clock.now());
  settings.logDirectory = startTime + "/";
  printMessage(&std::cout, std::string("version ") + kVersionText);
  printMessage(&std::cout, currentWorkingDirectory());
  printMessage(&std::cout, "initializing ..... ");
}

CLoggingAgent::~CLoggingAgent() {
  waitForNextSecond(clock, clock.now());
  printMessage(&std::cout, "exit");
  MethodRegistry::instance().destroyAll();
  // Per-thread files are complete on disk before the shared files close.
  ThreadRegistry::instance().destroyAllContexts();
  index.reset();
  sharedLog.reset();
}

void CLoggingAgent::configure(const Settings& read) {
  for (const std::string& line : read.echo) printMessage(&std::cout, line);
  for (const std::string& directory : read.directoriesToMake) {
    ::mkdir(directory.substr(0, directory.size() - 1).c_str(), 0755);  // one level
  }
  settings = read.options;
  defaultLogDirectory = read.defaultLogDirectory;
  if (read.sharedLog) {
    sharedLog = std::make_unique<LogFile>(read.sharedLog->directory, startTime, kLogExtension,
                                          read.sharedLog->defaultDirectory);
  }
  if (read.index) {
    index = std::make_unique<IndexFile>(read.index->directory, read.index->defaultDirectory);
  }
  MethodRegistry::instance().setFilters(MethodFilters(settings.packageFilters,
                                                      settings.classFilters,
                                                      settings.methodFilters,
                                                      settings.ignoreFilteredMethods,
                                                      settings.startMethods));
}

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

ThreadContext* CLoggingAgent::createThreadContext(ThreadKey threadKey) {
  ThreadRegistry& registry = ThreadRegistry::instance();
  std::string name = registry.resolveName(threadKey);
  const int32_t number = registry.takeThreadNumber();
  LogFile* logFile = sharedLog.get();
  const bool ownFile = settings.separateLogfilePerThread;
  if (ownFile) {
    logFile = new LogFile(settings.logDirectory, name, kLogExtension, defaultLogDirectory,
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
