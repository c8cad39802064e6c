// The agent against the checked-in golden runs (tests/data/golden/<run>/):
// golden.launch.Launch traced with <run>/settings.ini, behind a LogfileDirectory
// line of the test's own, must write exactly the files of <run>/run/, byte for
// byte, on every JDK. The shared text log is named after the run's start time,
// so that one file matches by its stamp-shaped name, not by the stamp.
//
// After a deliberate change of what the agent writes:
//   KOLVAPROF_UPDATE_GOLDEN=1 KOLVAPROF_TEST_JDKS=/usr/lib/jvm/java-17-openjdk-amd64
//     build/tests/integration_tests --gtest_filter='*GoldenAgent*'
// replaces each <run>/run/ with the new run instead of comparing; then
// regenerate the reader's outputs (tests/reader/golden_runs_test.cpp).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

namespace fs = std::filesystem;

const std::string kGolden = std::string(KOLVAPROF_TEST_DATA) + "/golden/";

// File name -> bytes; "<stamp>.log" stands for the log named by the start time.
std::map<std::string, std::string> runFiles(const std::string& dir) {
  static const std::regex stampLog("[0-9]{14}\\.log");
  std::map<std::string, std::string> files;
  for (const std::string& name : listDirectory(dir))
    files[std::regex_match(name, stampLog) ? "<stamp>.log" : name] = readFile(dir + "/" + name);
  return files;
}

std::vector<std::string> names(const std::map<std::string, std::string>& files) {
  std::vector<std::string> keys;
  for (const auto& entry : files) keys.push_back(entry.first);
  return keys;
}

// Text shows its lines; binary logs print badly, so a mismatch there is told
// by the sizes and the first differing byte.
::testing::AssertionResult sameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  if (expected.find('\0') == std::string::npos)
    return ::testing::AssertionFailure() << "expected:\n" << expected << "written:\n" << actual;
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  return ::testing::AssertionFailure() << expected.size() << " bytes expected, " << actual.size()
                                       << " written; first difference at byte " << at;
}

class GoldenAgent : public JdkTest {
 protected:
  // The bytecode engine writes the same bytes as the events engine did.
  void traceAndCompare(const std::string& run, const std::string& engine = "") {
    const std::string logs = root.path() + "/logs";
    makeDirectory(logs);
    writeFile(settingsPath,
              "LogfileDirectory=" + logs + "\n" + readFile(kGolden + run + "/settings.ini") + engine);
    const JavaResult result = runJava(jdkHome, workDir, verifyingAll({agentOption(settingsPath)}),
                                      "golden.launch.Launch");
    ASSERT_FALSE(result.timedOut);
    ASSERT_EQ(result.exitStatus, 0) << result.stderrText;
    EXPECT_THAT(result.stdoutLines(), ::testing::Contains("golden done"));
    const std::string written = findRunDirectory(logs);
    ASSERT_FALSE(written.empty());

    const std::string golden = kGolden + run + "/run";
    if (engine.empty() && std::getenv("KOLVAPROF_UPDATE_GOLDEN") != nullptr) {
      fs::remove_all(golden);
      fs::copy(written, golden);
      return;
    }
    auto expected = runFiles(golden);
    auto actual = runFiles(written);
    if (!engine.empty()) {
      expected = comparable(expected);
      actual = comparable(actual);
    }
    EXPECT_EQ(names(actual), names(expected));
    for (const auto& [name, bytes] : expected) {
      const auto found = actual.find(name);
      if (found != actual.end()) {
        EXPECT_TRUE(sameBytes(bytes, found->second)) << run << "/" << name;
      }
    }
  }

  // Thread lines of the index are left out (withoutThreadLines) and text
  // logs compared with threads and receivers named by first sight; every
  // other byte must be the same.
  static std::map<std::string, std::string> comparable(std::map<std::string, std::string> files) {
    for (auto& [name, bytes] : files) {
      if (name == "Index.dat") {
        bytes = withoutThreadLines(bytes);
      } else if (bytes.find('\0') == std::string::npos) {
        bytes = TraceNormalizer()(bytes);
      }
    }
    return files;
  }
};

// Compact blocks hold exactly the records of the binary golden run: compared
// decoded, since the compressed bytes are zstd's to choose. The run without
// its run.json is the reader's golden compact run.
TEST_P(GoldenAgent, CompactCallsThreads) {
  const std::string logs = root.path() + "/logs";
  makeDirectory(logs);
  writeFile(settingsPath, "LogfileDirectory=" + logs + "\n" + readFile(kGolden + "compact-calls-threads/settings.ini"));
  const JavaResult result = runJava(jdkHome, workDir, verifyingAll({agentOption(settingsPath)}), "golden.launch.Launch");
  ASSERT_EQ(result.exitStatus, 0) << result.stderrText;
  const std::string written = findRunDirectory(logs);
  ASSERT_FALSE(written.empty());
  if (std::getenv("KOLVAPROF_UPDATE_GOLDEN") != nullptr) {
    const std::string golden = kGolden + "compact-calls-threads/run";
    fs::remove_all(golden);
    fs::copy(written, golden);
    fs::remove(golden + "/run.json");
  }
  auto decoded = runFiles(written);
  for (auto& [name, bytes] : decoded) {
    if (name == "Index.dat") continue;
    const CompactRecords records = compactRecords(bytes);
    EXPECT_TRUE(records.whole) << name;
    bytes = records.fixed;
  }
  const auto expected = runFiles(kGolden + "binary-calls-threads/run");
  EXPECT_EQ(names(decoded), names(expected));
  for (const auto& [name, bytes] : expected) {
    if (decoded.count(name)) {
      EXPECT_TRUE(sameBytes(bytes, decoded[name])) << name;
    }
  }
}

TEST_P(GoldenAgent, TextPerThread) { traceAndCompare("text-per-thread"); }
TEST_P(GoldenAgent, TextShared) { traceAndCompare("text-shared"); }
TEST_P(GoldenAgent, Binary) { traceAndCompare("binary"); }
TEST_P(GoldenAgent, BinaryCalls) { traceAndCompare("binary-calls"); }
TEST_P(GoldenAgent, BinaryThreads) { traceAndCompare("binary-threads"); }
TEST_P(GoldenAgent, BinaryCallsThreads) { traceAndCompare("binary-calls-threads"); }
TEST_P(GoldenAgent, EveryRunByBytecode) {
  // (The runs with thread numbers in binary records are left to the
  // engines' own comparison, on programs whose every thread is traced.)
  for (const char* run : {"text-per-thread", "text-shared", "binary", "binary-calls"}) {
    SCOPED_TRACE(run);
    traceAndCompare(run, "CaptureMode=bytecode\n");
    fs::remove_all(root.path() + "/logs");
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(GoldenAgent);

}  // namespace
}  // namespace kolvaprof::itest
