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
using kolvaprof::testing::TestCallSite;
using kolvaprof::testing::TraceCheck;

constexpr int kThreads = 8;
constexpr int kRounds = 12;       // contexts per thread, one key reused
constexpr int kIterations = 400;  // per round

kolvaprof::MethodKey fakeMethod(int n) {
  return reinterpret_cast<kolvaprof::MethodKey>(0x5e5500000000 + n * 16);
}

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
  agent->configure({{"LogfileDirectory", dir},
                    {"RecordThreadID", "1"},
                    {"RecordMethodCallCount", "1"},
                    {"SeparateLogfilePerThread", mode.shared ? "0" : "1"},
                    {"CompressLogfile", mode.binary ? "1" : "0"}});
  const std::string logDirectory = agent->logDirectory();
  for (int m = 0; m < 4; ++m) {
    // Odd methods are static: their entries carry no receiver.
    kolvaprof::MethodRegistry::instance().store(
        fakeMethod(m), std::make_unique<MethodInfo>("stress", "Worker", "m" + std::to_string(m),
                                                    std::vector<std::string>{"int"}, "void", false,
                                                    false, m % 2 == 1));
  }

  std::atomic<bool> go{false};
  std::atomic<int> incompleteAtEnd{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const kolvaprof::ThreadKey key =
          reinterpret_cast<kolvaprof::ThreadKey>(keyBase + static_cast<std::uintptr_t>(t) * 64);
      TestCallSite site(key, t + 1);
      const auto enter = [&](int m) {
        agent->logMethodEntry(site, *kolvaprof::findMethodInfo(fakeMethod(m)));
      };
      const auto leave = [&](int m, bool popped) {
        agent->logMethodExit(site, *kolvaprof::findMethodInfo(fakeMethod(m)), popped);
      };
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        kolvaprof::ThreadRegistry::instance().onThreadStart(key, namePrefix + std::to_string(t));
        for (int i = 0; i < kIterations; ++i) {
          enter(0);
          enter(1);
          leave(1, false);
          if (i % 8 == 0) {
            enter(2);
            enter(3);
            agent->setLastExceptionClass(key, t % 2 ? "stress.Odd" : "stress.Even");
            leave(3, true);
            leave(2, true);
          }
          leave(0, false);
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
