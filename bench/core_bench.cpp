// Cost of one method entry and its exit in the logging core alone, driven
// through the calls a capture engine makes, without a VM: what a traced call
// costs beyond the events that deliver it, in every output mode.
#include <benchmark/benchmark.h>
#include <jni.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "core/call_site.h"
#include "core/clock.h"
#include "core/logging_agent.h"
#include "core/run_clock.h"
#include "output/thread_registry.h"
#include "registry/method_info.h"
#include "registry/method_registry.h"

namespace {

namespace fs = std::filesystem;
using kolvaprof::CallSite;
using kolvaprof::CLoggingAgent;
using kolvaprof::MethodInfo;
using kolvaprof::ThreadKey;

// Every reading one second on, so that shutdown never waits for the next
// second of the wall clock between runs.
class SteppingClock : public kolvaprof::Clock {
 public:
  std::time_t now() const override { return next.fetch_add(1); }
  void pause() const override {}

 private:
  mutable std::atomic<std::time_t> next{std::time(nullptr)};
};

const SteppingClock& benchClock() {
  static const SteppingClock* clock = new SteppingClock;
  return *clock;
}

class BenchAgent : public CLoggingAgent {
 public:
  BenchAgent() : CLoggingAgent(benchClock()) {}

  void configure(const std::vector<std::pair<std::string, std::string>>& lines) {
    kolvaprof::Settings settings = kolvaprof::defaultSettings(startTimeStamp());
    for (const auto& [key, value] : lines)
      kolvaprof::applySetting(settings, startTimeStamp(), key, value);
    CLoggingAgent::configure(settings);
  }
};

// What an engine would answer for a call from code it knows nothing about:
// the cheapest answers, so that the figures are the core's own.
class BenchCallSite final : public CallSite {
 public:
  explicit BenchCallSite(ThreadKey thread) : CallSite(thread) {}
  const MethodInfo* callerMethod() override { return nullptr; }
  std::string callerLocation(kolvaprof::CallerLocation) override { return "-1"; }
  int64_t receiverTag() override { return ++nextTag; }

 private:
  int64_t nextTag = 0;
};

jmethodID fakeMethod(int n) { return reinterpret_cast<jmethodID>(0xbe0c00000000 + n * 16); }

constexpr int kInstanceMethod = 0;
constexpr int kStaticMethod = 1;

// An agent's end empties the method registry, so every run stores its own.
void storeMethods() {
  for (int m : {kInstanceMethod, kStaticMethod}) {
    kolvaprof::MethodRegistry::instance().store(
        fakeMethod(m),
        std::make_unique<MethodInfo>("org.demo.shop", "Cart", m == kStaticMethod ? "total" : "add",
                                     std::vector<std::string>{"int", "java.lang.String"},
                                     "boolean", false, false, m == kStaticMethod));
  }
}

enum Mode : int64_t { kTextPerThread, kTextShared, kBinaryPerThread, kBinaryShared };

// Set up once per run, before its threads start, and torn down after they
// have all finished; the threads only read these.
CLoggingAgent* agent = nullptr;
std::string runDirectory;
std::uintptr_t keyBase = 0;
int runCount = 0;

ThreadKey keyOf(int threadIndex) {
  return reinterpret_cast<ThreadKey>(keyBase + static_cast<std::uintptr_t>(threadIndex) * 64);
}

// The core prints its banner and settings; the benchmark's table is kept clean.
class QuietStdout {
 public:
  QuietStdout() : saved(std::cout.rdbuf(sink.rdbuf())) {}
  ~QuietStdout() { std::cout.rdbuf(saved); }

 private:
  std::ostringstream sink;
  std::streambuf* saved;
};

void setUpRun(const benchmark::State& state) {
  char pattern[] = "/tmp/kolvaprof-core-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  runDirectory = pattern;
  // Keys never seen before, so no run inherits a context of an earlier one.
  keyBase = 0x7b0000000000 + static_cast<std::uintptr_t>(++runCount) * 0x10000;
  const auto mode = static_cast<Mode>(state.range(0));
  const bool numbered = state.range(1) != 0;
  QuietStdout quiet;
  auto* made = new BenchAgent;
  made->configure({{"LogfileDirectory", runDirectory},
                   {"RecordThreadID", numbered ? "1" : "0"},
                   {"RecordMethodCallCount", numbered ? "1" : "0"},
                   {"SeparateLogfilePerThread",
                    mode == kTextShared || mode == kBinaryShared ? "0" : "1"},
                   {"CompressLogfile", mode == kBinaryPerThread || mode == kBinaryShared ? "1" : "0"},
                   {"RecordTime", state.range(2) != 0 ? "1" : "0"}});
  // After configure, which hands the run's filters to the registry.
  storeMethods();
  agent = made;
}

void tearDownRun(const benchmark::State& state) {
  QuietStdout quiet;
  for (int t = 0; t < state.threads(); ++t) kolvaprof::ThreadRegistry::instance().onThreadEnd(keyOf(t));
  delete agent;
  agent = nullptr;
  std::error_code ignored;
  fs::remove_all(runDirectory, ignored);
}

// One iteration: an entry and its exit, instance and static methods taking
// turns, as in code that mixes the two.
void BM_CorePair(benchmark::State& state) {
  const ThreadKey key = keyOf(state.thread_index());
  kolvaprof::ThreadRegistry::instance().onThreadStart(
      key, "bench-" + std::to_string(state.thread_index()));
  BenchCallSite site(key);
  const jmethodID methods[2] = {fakeMethod(kInstanceMethod), fakeMethod(kStaticMethod)};
  const MethodInfo* infos[2] = {kolvaprof::findMethodInfo(methods[0]),
                                kolvaprof::findMethodInfo(methods[1])};
  // The first call opens the thread's file and numbers the methods; that is
  // start-up, not the steady state measured here.
  for (int m = 0; m < 2; ++m) {
    agent->logMethodEntry(site, *infos[m]);
    agent->logMethodExit(site, *infos[m], false);
  }

  int which = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    agent->logMethodEntry(site, *infos[which]);
    agent->logMethodExit(site, *infos[which], false);
    which ^= 1;
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Wall time per pair as one thread sees it; averaged over the threads.
  state.counters["ns_per_pair"] = benchmark::Counter(
      static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
          static_cast<double>(state.iterations()),
      benchmark::Counter::kAvgThreads);
  state.SetItemsProcessed(state.iterations());
}

// time: RecordTime, each record then reading the run clock; the product
// clock, since that is the cost in question.
void coreArguments(benchmark::internal::Benchmark* bench) {
  bench->ArgNames({"mode", "numbers", "time"});
  for (int64_t mode : {kTextPerThread, kTextShared, kBinaryPerThread, kBinaryShared})
    for (int64_t numbered : {0, 1})
      for (int64_t timed : {0, 1}) bench->Args({mode, numbered, timed});
}

// The run clock's reading alone, as every record with RecordTime pays it.
void BM_RunClockReading(benchmark::State& state) {
  const std::unique_ptr<kolvaprof::RunClock> clock = kolvaprof::startSystemRunClock();
  for (auto _ : state) benchmark::DoNotOptimize(clock->sinceStart());
}

}  // namespace

// Half a second per run keeps each run's files to a few hundred MB, all
// deleted when the run ends.
BENCHMARK(BM_CorePair)
    ->Apply(coreArguments)
    ->Setup(setUpRun)
    ->Teardown(tearDownRun)
    ->Threads(1)
    ->Threads(2)
    ->Threads(8)
    ->MinTime(0.5)
    ->UseRealTime();
BENCHMARK(BM_RunClockReading);
