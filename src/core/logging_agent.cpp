#include "core/logging_agent.h"

#include <time.h>

#include <iostream>

#include "format/text_line.h"
#include "output/console.h"
#include "output/file_sink.h"
#include "output/index_file.h"
#include "output/log_file.h"
#include "output/run_directory.h"
#include "output/thread_log_file.h"
#include "output/thread_registry.h"
#include "output/virtual_thread_log.h"
#include "registry/method_filters.h"
#include "registry/method_registry.h"

namespace kolvaprof {
namespace {

int64_t epochNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

CLoggingAgent::CLoggingAgent(const Clock& clock) : clock(clock) {
  startTime = formatStartTimeStamp(clock.now());
  settings.logDirectory = startTime + "/";
  threadLogDirectory = runDirectory(settings.logDirectory);
  printMessage(&std::cout, std::string("version ") + kVersionText);
  printMessage(&std::cout, currentWorkingDirectory());
  printMessage(&std::cout, "initializing ..... ");
}

CLoggingAgent::~CLoggingAgent() {
  waitForNextSecond(clock, clock.now());
  printMessage(&std::cout, "exit");
  const std::size_t methodsKnown = MethodRegistry::instance().size();
  const int32_t methodsInIndex = index ? index->methodsNumbered() : 0;
  MethodRegistry::instance().destroyAll();
  // Per-thread files are complete on disk before the shared files close.
  ThreadRegistry::instance().destroyAllContexts();
  virtualThreadLog.reset();
  index.reset();
  sharedLog.reset();
  // Last, once every file is closed: a run.json that says complete vouches
  // for the files. Nothing may leave a destructor.
  try {
    manifest.end = RunManifest::End{ThreadContext::recordsOfDestroyedContexts(),
                                    static_cast<uint64_t>(ThreadRegistry::instance().threadsNumbered()),
                                    methodsKnown, static_cast<uint64_t>(methodsInIndex), failedLogFiles()};
    manifest.complete = true;
    keepManifest();
  } catch (...) {
  }
}

void CLoggingAgent::configure(const Settings& read) {
  // Taken before the echo, so that it shows the names the run really uses.
  for (const std::string& directory : read.directoriesToMake) runDirectory(directory)->claim(false);
  for (const EchoLine& line : read.echo) {
    if (line.directory.empty()) {
      printMessage(&std::cout, line.text);
      continue;
    }
    const std::shared_ptr<RunDirectory> directory = runDirectory(line.directory);
    printMessage(&std::cout, line.text + directory->path() + line.suffix);
    directory->reportFailure();
  }
  settings = read.options;
  plainCalls = settings.startMethods.empty() && settings.recordCallerLocation == 0;
  recordLayout =
      RecordLayout{settings.recordMethodCallCount, settings.recordThreadId, settings.recordTime};
  manifest.startEpochNanoseconds = epochNanoseconds();
  if (settings.recordTime) runClock = clock.startRunClock();
  threadLogDirectory = runDirectory(settings.logDirectory);
  if (read.sharedLog) {
    sharedLog = std::make_unique<LogFile>(runDirectory(*read.sharedLog), startTime,
                                          kLogExtension);
    if (compactLayout()) sharedLog->writeCompactBlocks(recordLayout);
  }
  if (read.sharedLog) {
    virtualThreadLog = std::make_unique<VirtualThreadLog>(runDirectory(*read.sharedLog), compactLayout());
  } else if (settings.separateLogfilePerThread) {
    virtualThreadLog = std::make_unique<VirtualThreadLog>(threadLogDirectory, compactLayout());
  }
  if (read.index) index = std::make_unique<IndexFile>(runDirectory(*read.index));
  MethodRegistry::instance().setFilters(MethodFilters(settings.packageFilters,
                                                      settings.classFilters,
                                                      settings.methodFilters,
                                                      settings.ignoreFilteredMethods,
                                                      settings.startMethods));
}

std::shared_ptr<RunDirectory> CLoggingAgent::runDirectory(const std::string& path) {
  std::shared_ptr<RunDirectory>& directory = runDirectories[path];
  if (!directory) directory = std::make_shared<RunDirectory>(path);
  return directory;
}

void CLoggingAgent::describeRun(const std::string& engine, RunManifest::Jvm jvm) {
  manifest.agentVersion = kVersionText;
  manifest.engine = engine;
  manifest.settings = settingsInForce(settings);
  manifest.layout = recordLayout;
  if (!settings.compressLogfile) manifest.layout.encoding = RecordEncoding::Text;
  if (compactLayout()) manifest.layout.encoding = RecordEncoding::Compact;
  manifest.jvm = std::move(jvm);
  manifest.startStamp = startTime;
  manifest.timeBase = runClock ? runClock->timeBase() : "none";
  keepManifest();
}

void CLoggingAgent::keepManifest() {
  if (manifest.engine.empty()) return;  // the run was never described
  const std::string text = writeManifest(manifest);
  for (const auto& directory : runDirectories) directory.second->keepManifest(text);
}

std::string CLoggingAgent::logDirectory() const { return threadLogDirectory->path(); }

int64_t CLoggingAgent::allocateObjectTag() {
  return nextObjectTag.fetch_add(1, std::memory_order_relaxed);
}

void CLoggingAgent::setLastExceptionClass(ThreadKey thread, const std::string& className) {
  // Without a context the thread has no logged frame to unwind.
  ThreadContext* context = ThreadRegistry::instance().findContext(thread);
  if (context != nullptr) context->setLastException(className);
}

ThreadContext* CLoggingAgent::createThreadContext(ThreadKey threadKey) {
  ThreadRegistry& registry = ThreadRegistry::instance();
  ThreadRegistry::NewThread thread = registry.registerThread(threadKey);
  if (thread.isVirtual) {
    return createVirtualThreadContext(threadKey, std::move(thread.name), thread.number);
  }
  std::unique_ptr<ThreadContext> context;
  if (settings.separateLogfilePerThread) {
    auto file = std::make_unique<ThreadLogFile>(threadLogDirectory, thread.name, kLogExtension);
    if (compactLayout()) file->writeCompactBlocks(recordLayout);
    context = std::make_unique<ThreadContext>(std::move(thread.name), thread.number, std::move(file));
  } else {
    context = std::make_unique<ThreadContext>(std::move(thread.name), thread.number, sharedLog.get());
  }
  if (settings.recordThreadId) {
    if (!settings.compressLogfile) {
      context->setPendingHeader(makeThreadHeaderLine(context->threadNumber(), context->name()));
    } else if (index) {
      index->writeThreadLine(*context);
    }
  }
  return registry.addContext(threadKey, std::move(context));
}

ThreadContext* CLoggingAgent::createVirtualThreadContext(ThreadKey threadKey, std::string name,
                                                         int32_t number) {
  auto context = std::make_unique<ThreadContext>(std::move(name), number);
  // Each block names its thread, so a text log needs no header line.
  if (virtualThreadLog) context->writeInBlocks(*virtualThreadLog);
  if (settings.recordThreadId && settings.compressLogfile && index) index->writeThreadLine(*context);
  return ThreadRegistry::instance().addContext(threadKey, std::move(context));
}

}  // namespace kolvaprof
