// Loading the agent into a real VM: console, exit status and the log
// directory of runs with the default settings.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

using ::testing::Contains;
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

// Another run of the same second holds <stamp>/ already (here: every stamp
// this run can have): the run takes <stamp>-2/ and the console names it, the
// default directory as soon as it is made.
TEST_P(LifecycleTest, RunOfTheSameSecondTakesADirectoryOfItsOwn) {
  const std::string logs = root.path() + "/logs";
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now - 5; t < now + 120; ++t) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", std::localtime(&t));
    makeDirectory(workDir + "/" + stamp);
    makeDirectory(logs + "/" + stamp);
  }
  for (const bool configured : {false, true}) {
    const std::string base = configured ? logs : workDir;
    const JavaResult result = runWithSettings(
        (configured ? "LogfileDirectory=" + logs + "\nCompressLogfile=1\n" : "") +
            std::string("FilterMode=1\nPackageFilter=itest\n"),
        "itest.Hello");
    const std::vector<std::string> names = listDirectory(base);
    const auto taken = std::find_if(names.begin(), names.end(),
                                    [](const std::string& name) { return name.size() == 16; });
    ASSERT_NE(taken, names.end()) << base;
    const std::string shown = (configured ? logs + "/" : "") + *taken + "/";
    std::vector<std::string> expected{"profiler> recorde only filtered methods.",
                                      "profiler> filtering package itest",
                                      "profiler> output logfile in " + shown, "hello from itest"};
    if (configured) {
      expected.erase(expected.begin() + 2);
      expected.insert(expected.begin(), {"profiler> output logfile in " + shown, "profiler> compress log file",
                                         "profiler> index file = " + shown + "Index.dat"});
    }
    EXPECT_EQ(result.stdoutLines(), console(expected));
    EXPECT_EQ(taken->substr(14), "-2");
    EXPECT_THAT(listDirectory(base + "/" + *taken), Contains("main.log"));
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
