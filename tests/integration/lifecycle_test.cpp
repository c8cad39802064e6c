// Loading the agent into a real VM: console, exit status and the log
// directory of runs with the default settings.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using LifecycleTest = JdkTest;

TEST_P(LifecycleTest, VersionRunPrintsBannerAndExit) {
  const JavaResult result = runJava(jdkHome, workDir, {agentOption(), "-version"}, "");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.stdoutLines(), console({}));
  EXPECT_THAT(result.stderrText, HasSubstr("version \""));
}

// Without any settings everything is traced into <stamp>/ in the working
// directory, which is made at the first record.
TEST_P(LifecycleTest, DefaultSettingsTraceIntoStampDirectory) {
  const JavaResult result = runWithoutSettings("itest.Hello");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.stdoutLines(), console({"hello from itest"}));
  EXPECT_EQ(result.stderrText, "");

  const std::string runDir = findRunDirectory(workDir);
  ASSERT_FALSE(runDir.empty());
  EXPECT_EQ(listDirectory(workDir).size(), 1u);
  const std::vector<std::string> files = listDirectory(runDir);
  ASSERT_THAT(files, ::testing::Contains("main.log"));
  const std::string mainLog = readFile(runDir + "/main.log");
  EXPECT_THAT(mainLog, HasSubstr("\nvoid itest.Hello(0).main(java.lang.String[]){\n"));
  EXPECT_TRUE(isBalancedTrace(mainLog, true));
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(isBalancedTrace(readFile(runDir + "/" + file), false));
  }
}

TEST_P(LifecycleTest, MissingSettingsFileMeansDefaults) {
  const JavaResult result =
      runJava(jdkHome, workDir, {agentOption(root.path() + "/missing.ini")}, "itest.Hello");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.stdoutLines(), console({"hello from itest"}));
  EXPECT_FALSE(findRunDirectory(workDir).empty());
}

// FilterMode=1 without any filter excludes every method.
TEST_P(LifecycleTest, RunThatLogsNothingLeavesNoDirectory) {
  const JavaResult result = runWithSettings("FilterMode=1\n", "itest.Hello");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.stdoutLines(),
            console({"profiler> recorde only filtered methods.", "hello from itest"}));
  EXPECT_THAT(listDirectory(workDir), IsEmpty());
  EXPECT_THAT(listDirectory(root.path()), ElementsAre("settings.ini", "work"));
}

KOLVAPROF_RUN_ON_EVERY_JDK(LifecycleTest);

}  // namespace
}  // namespace kolvaprof::itest
