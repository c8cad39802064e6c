// run.json in real runs: written at the start, rewritten complete at a clean
// end, left incomplete by SIGKILL, and enough for the reader to read a run
// whose records alone do not say their layout.

#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "format/run_manifest.h"
#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class RunManifestTest : public JdkTest {
 protected:
  // run.json of the one run in workDir, parsed.
  std::optional<RunManifest> manifest(const std::string& runDir) {
    const ManifestReading read = parseManifest(readFile(runDir + "/" + kManifestFileName));
    EXPECT_TRUE(read.manifest) << read.error;
    return read.manifest;
  }
};

// Every record of the run in VirtualThreads.vlog, with thread numbers: the
// bytes fit several layouts, and run.json settles it.
TEST_P(RunManifestTest, VirtualThreadRunReadsWithoutOptions) {
  if (jdkMajorVersion(jdkHome) < 21) GTEST_SKIP() << "no virtual threads before JDK 21";
  const JavaResult result = runWithSettings(
      "CompressLogfile=1\nRecordThreadID=1\nReceiverTags=2\nFilterMode=1\nMethodFilter=VirtualThreads.outer\n"
      "MethodFilter=VirtualThreads.middle\nMethodFilter=VirtualThreads.inner\n",
      "itest.VirtualThreads", {"40", "0"});
  ASSERT_EQ(result.exitStatus, 0) << result.stderrText;
  const std::string runDir = findRunDirectory(workDir);
  ASSERT_THAT(listDirectory(runDir), ElementsAre("Index.dat", "VirtualThreads.vlog"));
  const ReaderResult summary = runReader({"summary", runDir}, root.path());
  EXPECT_EQ(summary.status, 0) << summary.err;
  EXPECT_THAT(summary.err, HasSubstr("record layout from run.json: 16-byte records (thread numbers)\n"));
  EXPECT_THAT(summary.out, HasSubstr("calls: 120 of 3 methods on 40 threads"));
  const ReaderResult check = runReader({"check", runDir}, root.path());
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_THAT(check.out, HasSubstr("as run.json says"));
  EXPECT_THAT(check.out, HasSubstr("result: clean"));
  const std::optional<RunManifest> written = manifest(runDir);
  ASSERT_TRUE(written);
  EXPECT_TRUE(written->complete);
  ASSERT_TRUE(written->end);
  EXPECT_EQ(written->end->records, 240u);
  EXPECT_EQ(written->end->methodsInIndex, 3u);
  // As a run of an older agent: the blocks alone tell the layout.
  std::remove((runDir + "/" + kManifestFileName).c_str());
  const ReaderResult detected = runReader({"summary", runDir}, root.path());
  EXPECT_EQ(detected.status, 0) << detected.err;
  EXPECT_THAT(detected.out, HasSubstr("calls: 120 of 3 methods on 40 threads"));
  EXPECT_THAT(detected.err, Not(HasSubstr("run.json")));
}

// What run.json says of a run that ends cleanly and of one killed: the
// start is there in both, the end only in the first, and check tells them
// apart.
TEST_P(RunManifestTest, CompleteOnlyAfterACleanEnd) {
  struct Case {
    const char* label;
    const char* settings;
    const char* mainClass;
    std::vector<std::string> args;
    int timeout;
    const char* engine;
    RecordLayout layout;
  };
  const Case cases[] = {
      {"clean", "CaptureMode=bytecode\nRecordTime=1\nRecordMethodCallCount=1\nPackageFilter=itest\nFilterMode=1\n",
       "itest.Calls", {}, kDefaultTimeoutSeconds, "bytecode", {true, false, true, RecordEncoding::Text}},
      {"killed", "CompressLogfile=1\nRecordThreadID=1\nReceiverTags=0\nPackageFilter=itest\nFilterMode=1\n",
       "itest.reliability.Busy", {"4"}, 4, "events", {false, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string logs = root.path() + "/" + c.label;
    makeDirectory(logs);
    writeFile(settingsPath, "LogfileDirectory=" + logs + "\n" + c.settings);
    const JavaResult result = runJava(jdkHome, workDir, {agentOption(settingsPath)}, c.mainClass, c.args, c.timeout);
    const bool clean = std::string(c.label) == "clean";
    ASSERT_EQ(result.timedOut, !clean);
    const std::string runDir = findRunDirectory(logs);
    const std::optional<RunManifest> written = manifest(runDir);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->complete, clean);
    EXPECT_EQ(written->end.has_value(), clean);
    EXPECT_EQ(written->engine, c.engine);
    EXPECT_EQ(written->layout, c.layout);
    if (clean) {
      EXPECT_THAT(written->timeBase, AnyOf("tsc", "monotonic"));
    } else {
      EXPECT_EQ(written->timeBase, "none");
    }
    EXPECT_EQ(runDir.substr(runDir.size() - 14), written->startStamp);
    EXPECT_GT(written->startEpochNanoseconds, int64_t{1600000000} * 1000000000);
    EXPECT_FALSE(written->jvm.vendor.empty());
    EXPECT_FALSE(written->jvm.version.empty());
    EXPECT_GT(written->jvm.pid, 0);
    EXPECT_THAT(written->jvm.commandLine, Contains(c.mainClass));
    EXPECT_THAT(written->jvm.commandLine, Contains(agentOption(settingsPath)));
    ASSERT_FALSE(written->settings.empty());
    EXPECT_EQ(written->settings.front().key, "LogfileDirectory");
    EXPECT_EQ(written->settings.front().values, std::vector<std::string>{logs});
    const ReaderResult check = runReader({"check", runDir}, root.path());
    if (clean) {
      EXPECT_EQ(check.status, 0) << check.out << check.err;
      EXPECT_THAT(check.out, Not(HasSubstr("did not end cleanly")));
      // Every record the agent wrote is on disk: one per call and one per exit.
      std::regex figures("(\\d+) calls, (\\d+) exits");
      uint64_t records = 0;
      for (std::sregex_iterator at(check.out.begin(), check.out.end(), figures), end; at != end; ++at)
        records += std::stoull((*at)[1]) + std::stoull((*at)[2]);
      EXPECT_EQ(written->end->records, records);
    } else {
      // Files that never filled a buffer stay empty, and then there may be
      // none to read; check says why either way.
      EXPECT_THAT(check.out + check.err, HasSubstr("did not end cleanly (complete: false)"));
    }
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(RunManifestTest);

}  // namespace
}  // namespace kolvaprof::itest
