// Load and thread churn on a real VM: every call the program counts must be in
// the trace exactly once, in whole records that nest per thread, whatever the
// number of threads and whether they share one file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "integration/java_run.h"
#include "support/trace_check.h"

namespace kolvaprof::itest {
namespace {

using ::kolvaprof::testing::RecordFields;
using ::kolvaprof::testing::reportedCalls;
using ::kolvaprof::testing::TraceCheck;
using ::testing::Contains;

constexpr const char* kOwnMethodsOnly = "FilterMode=1\nPackageFilter=itest.reliability\n";
constexpr int kLoadThreads = 64;
constexpr int kLoadIterations = 16000;  // about 20,000 calls per thread

class ReliabilityLoad : public JdkTest {
 protected:
  JavaResult run(const std::string& logs, const std::string& settings, const std::string& mainClass,
                 const std::vector<std::string>& args) {
    makeDirectory(logs);
    writeFile(settingsPath, "LogfileDirectory=" + logs + "\n" + kOwnMethodsOnly + settings);
    return runJava(jdkHome, workDir, {agentOption(settingsPath)}, mainClass, args, 180);
  }
};

TEST_P(ReliabilityLoad, SixtyFourThreadsLoseNoRecordInAnyMode) {
  struct Mode {
    const char* label;
    bool binary;
    bool shared;
  };
  for (const Mode mode : {Mode{"text-per-thread", false, false}, Mode{"text-shared", false, true},
                          Mode{"binary-per-thread", true, false}, Mode{"binary-shared", true, true}}) {
    SCOPED_TRACE(mode.label);
    const std::string logs = root.path() + "/" + mode.label;
    const JavaResult result = run(
        logs,
        std::string("RecordThreadID=1\nRecordMethodCallCount=1\n") +
            (mode.shared ? "SeparateLogfilePerThread=0\n" : "") + (mode.binary ? "CompressLogfile=1\n" : ""),
        "itest.reliability.Load", {std::to_string(kLoadThreads), std::to_string(kLoadIterations)});
    ASSERT_FALSE(result.timedOut);
    ASSERT_EQ(result.exitStatus, 0) << result.stderrText;
    const std::map<std::string, long> made = reportedCalls("Load", result.stdoutText);
    ASSERT_EQ(made.size(), 8u) << result.stdoutText;
    long calls = 0;
    for (const auto& entry : made) calls += entry.second;

    const std::string runDir = findRunDirectory(logs);
    ASSERT_FALSE(runDir.empty());
    const std::string stamp = runDir.substr(runDir.size() - 14);
    std::vector<std::string> expectedFiles;
    if (mode.binary) expectedFiles.push_back("Index.dat");
    if (mode.shared) {
      expectedFiles.push_back(stamp + ".log");
    } else {
      for (int t = 0; t < kLoadThreads; ++t) expectedFiles.push_back("load-" + std::to_string(t) + ".log");
      expectedFiles.push_back("main.log");
    }
    std::sort(expectedFiles.begin(), expectedFiles.end());
    ASSERT_EQ(listDirectory(runDir), expectedFiles);

    TraceCheck check({true, true});
    if (mode.binary) check.addIndex(readFile(runDir + "/Index.dat"));
    for (const std::string& file : expectedFiles) {
      if (file == "Index.dat") continue;
      const std::string content = readFile(runDir + "/" + file);
      if (mode.binary)
        check.addBinary(file, content, !mode.shared, false);
      else
        check.addText(file, content, !mode.shared, false);
    }
    EXPECT_TRUE(check.ok(true));
    EXPECT_EQ(check.entriesPerMethod(), made);
    EXPECT_EQ(check.records, 2 * calls);
    EXPECT_EQ(check.exceptionExits, mode.binary ? 0 : made.at("Load.fail"));
    // Thread numbers are unique by construction of the map; VM threads that
    // entered a JDK method have numbers (and Thread lines) but no records.
    std::set<std::string> logged;
    for (const auto& [number, thread] : check.threads) {
      if (thread.records == 0) continue;
      logged.insert(thread.name);
      if (!mode.shared) {
        EXPECT_EQ(thread.file, thread.name + ".log");
      }
    }
    std::set<std::string> expectedNames{"main"};
    for (int t = 0; t < kLoadThreads; ++t) expectedNames.insert("load-" + std::to_string(t));
    EXPECT_EQ(logged, expectedNames);
    std::printf("[ figures  ] load %s: %d threads, %ld calls, %ld records, %ld call numbers\n", mode.label,
                kLoadThreads, calls, check.records, static_cast<long>(check.callNumbers.size()));
    std::filesystem::remove_all(logs);
  }
}

// Probes one at a time, each log complete as soon as its thread is joined;
// then waves of 16 threads, a third named "same", a third with '?' in their
// names (fallback files), a third with names of their own.
TEST_P(ReliabilityLoad, ThousandsOfShortLivedThreads) {
  constexpr int kProbes = 48;
  constexpr int kChurn = 3000;
  const std::string logs = root.path() + "/logs";
  // Fetching receivers costs a safepoint per instance call, here mostly JDK
  // calls that start threads; they are not what this test is about.
  const JavaResult result = run(logs, "RecordThreadID=1\nReceiverTags=0\n", "itest.reliability.Churn",
                                {logs, std::to_string(kProbes), std::to_string(kChurn), "16"});
  ASSERT_FALSE(result.timedOut);
  ASSERT_EQ(result.exitStatus, 0) << result.stderrText;
  const std::vector<std::string> lines = result.stdoutLines();
  for (int k = 0; k < kProbes; ++k) {
    // header, run and work, and leaf k % 4 times: two lines per call
    EXPECT_THAT(lines, Contains("probe " + std::to_string(k) + " " + std::to_string(1 + 4 + 2 * (k % 4)) +
                                " closed"));
  }
  const std::map<std::string, long> made = reportedCalls("Churn", result.stdoutText);
  ASSERT_EQ(made.size(), 7u) << result.stdoutText;

  const std::string runDir = findRunDirectory(logs);
  ASSERT_FALSE(runDir.empty());
  std::vector<std::string> expectedFiles{"main.log", "same.log"};
  for (int k = 0; k < kProbes; ++k) expectedFiles.push_back("probe-" + std::to_string(k) + ".log");
  for (int i = 0; i < kChurn; ++i) {
    if (i % 3 == 0 && i > 0) expectedFiles.push_back("same(" + std::to_string(i / 3 + 1) + ").log");
    if (i % 3 == 1) expectedFiles.push_back("w-" + std::to_string(i) + ".log");
    if (i % 3 == 2) expectedFiles.push_back("(" + std::to_string(i / 3) + ").log");
  }
  std::sort(expectedFiles.begin(), expectedFiles.end());
  const std::vector<std::string> files = listDirectory(runDir);
  ASSERT_EQ(files, expectedFiles);

  TraceCheck check({false, true});
  for (const std::string& file : files) check.addText(file, readFile(runDir + "/" + file), true, false);
  EXPECT_TRUE(check.ok(true));
  EXPECT_EQ(check.entriesPerMethod(), made);
  // Numbers 0..N-1, one per thread; each file holds the thread its name says.
  constexpr std::size_t kThreads = 1 + kProbes + kChurn;
  std::set<std::string> fallbackNames;
  std::size_t threads = 0;
  for (const auto& [number, thread] : check.threads) {
    ++threads;
    if (thread.file.front() == '(') {
      EXPECT_EQ(thread.name.rfind("bad?", 0), 0u) << thread.file;
      fallbackNames.insert(thread.name);
    } else {
      EXPECT_EQ(thread.file, thread.name + ".log");
    }
  }
  EXPECT_EQ(threads, kThreads);
  EXPECT_EQ(fallbackNames.size(), static_cast<std::size_t>(kChurn / 3));
  std::printf("[ figures  ] churn: %zu threads (%d probes), %zu log files, %zu fallback names, %ld records\n",
              kThreads, kProbes, files.size(), fallbackNames.size(), check.records);
}

KOLVAPROF_RUN_ON_EVERY_JDK(ReliabilityLoad);

}  // namespace
}  // namespace kolvaprof::itest
