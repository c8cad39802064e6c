// The logging core driven hard without a VM: threads start, enter and leave
// methods, throw, end, and start again under the same key, all at once, in
// every output mode. Afterwards every file must hold exactly the records that
// were made, nesting per thread. Under ThreadSanitizer this is the race
// detector's view of the per-call paths.

#include <gtest/gtest.h>
#include <jni.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "output/thread_registry.h"
#include "registry/method_info.h"
#include "registry/method_registry.h"
#include "support/test_agent.h"
#include "support/trace_check.h"

namespace {

namespace fs = std::filesystem;
using kolvaprof::MethodInfo;
using kolvaprof::testing::RecordFields;
using kolvaprof::testing::TestAgent;
using kolvaprof::testing::TraceCheck;

constexpr int kThreads = 8;
constexpr int kRounds = 12;       // contexts per thread, one key reused
constexpr int kIterations = 400;  // per round

jmethodID fakeMethod(int n) { return reinterpret_cast<jmethodID>(0x5e5500000000 + n * 16); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

struct Mode {
  const char* name;
  bool binary;
  bool shared;
};

class CoreStress : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kolvaprof-stress-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::string dir;
};

TEST_P(CoreStress, ConcurrentThreadsChurnThroughEveryMode) {
  const Mode mode = GetParam();
  // Keys and names of their own, so that the process-wide registry's memory
  // of earlier tests does not matter.
  const std::uintptr_t keyBase = 0x7e5000000000 + (std::uintptr_t{mode.binary} * 2 + mode.shared) * 0x100000;
  const std::string namePrefix = std::string("stress-") + mode.name + "-";

  ::testing::internal::CaptureStdout();
  auto agent = std::make_unique<TestAgent>();
  agent->applySetting("LogfileDirectory", dir);
  agent->applySetting("RecordThreadID", "1");
  agent->applySetting("RecordMethodCallCount", "1");
  if (mode.shared) agent->applySetting("SeparateLogfilePerThread", "0");
  if (mode.binary) agent->applySetting("CompressLogfile", "1");
  const std::string logDirectory = agent->logDirectory();
  for (int m = 0; m < 4; ++m) {
    kolvaprof::storeMethodInfo(
        fakeMethod(m), std::make_unique<MethodInfo>("stress", "Worker", "m" + std::to_string(m),
                                                    std::vector<std::string>{"int"}, "void", false, false));
  }

  std::atomic<bool> go{false};
  std::atomic<int> incompleteAtEnd{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      JNIEnv* const key = reinterpret_cast<JNIEnv*>(keyBase + static_cast<std::uintptr_t>(t) * 64);
      const jlong tag = t + 1;
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        kolvaprof::ThreadRegistry::instance().onThreadStart(key, namePrefix + std::to_string(t));
        for (int i = 0; i < kIterations; ++i) {
          agent->logMethodEntry(fakeMethod(0), kolvaprof::findMethodInfo(fakeMethod(0)), tag, key);
          agent->logMethodEntry(fakeMethod(1), kolvaprof::findMethodInfo(fakeMethod(1)), 0, key);
          agent->logMethodExit(fakeMethod(1), key, false);
          if (i % 8 == 0) {
            agent->logMethodEntry(fakeMethod(2), kolvaprof::findMethodInfo(fakeMethod(2)), tag, key);
            agent->logMethodEntry(fakeMethod(3), kolvaprof::findMethodInfo(fakeMethod(3)), 0, key);
            agent->setLastExceptionClass(t % 2 ? "stress.Odd" : "stress.Even");
            agent->logMethodExit(fakeMethod(3), key, true);
            agent->logMethodExit(fakeMethod(2), key, true);
          }
          agent->logMethodExit(fakeMethod(0), key, false);
        }
        kolvaprof::ThreadRegistry::instance().onThreadEnd(key);
        if (!mode.shared && !mode.binary) {
          // Its own file is complete the moment the thread has ended.
          const std::string name =
              namePrefix + std::to_string(t) + (round ? "(" + std::to_string(round + 1) + ")" : "");
          const std::string trace = readFile(logDirectory + name + ".log");
          if (trace.size() < 4 || trace.compare(trace.size() - 2, 2, "}\n") != 0) ++incompleteAtEnd;
        }
      }
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  agent.reset();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(incompleteAtEnd.load(), 0);

  const std::string stamp = fs::path(logDirectory).parent_path().filename().string();
  std::vector<std::string> expectedFiles;
  if (mode.binary) expectedFiles.push_back("Index.dat");
  if (mode.shared) expectedFiles.push_back(stamp + ".log");
  for (int t = 0; t < kThreads && !mode.shared; ++t) {
    for (int round = 0; round < kRounds; ++round)
      expectedFiles.push_back(namePrefix + std::to_string(t) +
                              (round ? "(" + std::to_string(round + 1) + ")" : "") + ".log");
  }
  std::sort(expectedFiles.begin(), expectedFiles.end());
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(logDirectory))
    files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files, expectedFiles);

  TraceCheck check(RecordFields{true, true}, "stress.");
  if (mode.binary) check.addIndex(readFile(logDirectory + "Index.dat"));
  for (const std::string& file : files) {
    if (file == "Index.dat") continue;
    if (mode.binary)
      check.addBinary(file, readFile(logDirectory + file), !mode.shared, false);
    else
      check.addText(file, readFile(logDirectory + file), !mode.shared, false);
  }
  EXPECT_TRUE(check.ok(true));
  // Method numbers outlive an agent, so binary counts are compared unnamed.
  constexpr long kContexts = kThreads * kRounds;
  constexpr long kOften = kContexts * kIterations;
  constexpr long kRarely = kContexts * ((kIterations + 7) / 8);
  std::vector<long> counts;
  for (const auto& entry : check.entriesPerMethod()) counts.push_back(entry.second);
  std::sort(counts.begin(), counts.end());
  EXPECT_EQ(counts, (std::vector<long>{kRarely, kRarely, kOften, kOften}));
  EXPECT_EQ(check.exceptionExits, mode.binary ? 0 : 2 * kRarely);
  EXPECT_EQ(static_cast<long>(check.threads.size()), kContexts);
  std::set<std::string> names;
  for (const auto& [number, thread] : check.threads) names.insert(thread.name);
  EXPECT_EQ(static_cast<long>(names.size()), kContexts);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CoreStress,
    ::testing::Values(Mode{"TextPerThread", false, false}, Mode{"TextShared", false, true},
                      Mode{"BinaryPerThread", true, false}, Mode{"BinaryShared", true, true}),
    [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

}  // namespace
