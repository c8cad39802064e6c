// The settings file as a real VM reads it: the echo of every key, malformed
// lines, Verbose and IgnoreBuiltInClass.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using SettingsTest = JdkTest;

// Every key once or more, with the lines that must be skipped in between; the
// over-long line ends the reading, so the line after it is not applied.
TEST_P(SettingsTest, EveryKeyIsEchoedInFileOrder) {
  const std::string logs = root.path() + "/logs";
  makeDirectory(logs);
  const std::string settings =
      "; Verbose=1\n"
      "[section]\n"
      "LogfileDirectory=" + logs + "\n"
      "GetFilteredMethod=1\n"
      "StartMethod=itest.Hello.main\n"
      "ClassFilter=itest.Hello\n"
      "ClassFilter=Other\n"
      "PackageFilter=itest\n"
      "MethodFilter=main\n"
      "SeparateLogfilePerThread=1\n"
      "CompressLogfile=0\n"
      "RecordThreadID=1\n"
      "RecordThreadID=yes\n"
      "RecordMethodCallCount=1\n"
      "RecordTime=yes\n"
      "RecordTime=1\n"
      "FilterMode=0\n"
      "FilterMode=2\n"
      "IgnoreBuiltInClass=0\n"
      "Verbose=1 ;\n"
      "verbose=1\n"
      " ;Verbose=1\n"
      "NoEqualsSign\n"
      "=1\n"
      "Verbose=\n"
      "Unknown=1\n"
      "RecordCallerLocation=2\n"
      "RecordCallerLocation=3\n"
      "RecordCallerLocation=1\n"
      " \tFilterMode\t =  1  \r\n"
      "ClassFilter=" + std::string(300, 'x') + "\n"
      "PackageFilter=never.applied\n";
  const JavaResult result = runWithSettings(settings, "itest.Hello");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
  const std::string runDir = findRunDirectory(logs);
  ASSERT_FALSE(runDir.empty());
  EXPECT_EQ(result.stdoutLines(),
            console({"profiler> output logfile in " + runDir + "/",
                     "profiler> logging start from method call of itest.Hello.main",
                     "profiler> filtering class itest.Hello", "profiler> filtering class Other",
                     "profiler> filtering package itest", "profiler> filtering method main",
                     "profiler> separate logfile per thread.", "profiler> record thread ID.",
                     "profiler> record method call count.", "profiler> record time in nanoseconds.",
                     "profiler> ignore filtered methods.",
                     "profiler> record caller instruction soucecode line number.",
                     "profiler> record caller instruction bytecode number.",
                     "profiler> recorde only filtered methods.",
                     "profiler> start method itest.Hello.main invoked.", "hello from itest",
                     "profiler> start method itest.Hello.main exited."}));

  EXPECT_THAT(listDirectory(workDir), IsEmpty());
  const std::string mainLog = readFile(runDir + "/main.log");
  EXPECT_EQ(mainLog.rfind("@thread ", 0), 0u) << mainLog;
  EXPECT_THAT(mainLog, HasSubstr(" void itest.Hello(0).main(java.lang.String[]){\n"));
  EXPECT_TRUE(isBalancedTrace(mainLog, true));
}

// String and Integer are prepared while the VM starts: with
// IgnoreBuiltInClass they are never registered, so the filters that select
// them log nothing; the program's own class is registered, and said so.
TEST_P(SettingsTest, VerboseAndIgnoreBuiltInClass) {
  const JavaResult result = runWithSettings(
      "Verbose=1\nIgnoreBuiltInClass=1\nFilterMode=1\nPackageFilter=itest\n"
      "ClassFilter=java.lang.String\nClassFilter=java.lang.Integer\n",
      "itest.Builtin");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;

  std::vector<std::string> lines = result.stdoutLines();
  const auto registered = std::find(lines.begin(), lines.end(), "profiler> register class itest.Builtin");
  const auto output = std::find(lines.begin(), lines.end(), "builtin ok");
  EXPECT_LT(registered, output);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "profiler> register class itest.Builtin"), 1);
  EXPECT_THAT(lines, Not(Contains("profiler> register class java.lang.String")));
  EXPECT_THAT(lines, Not(Contains("profiler> register class java.lang.Integer")));
  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [](const std::string& line) {
                               return line.rfind("profiler> register class ", 0) == 0;
                             }),
              lines.end());
  EXPECT_EQ(lines, console({"profiler> recorde only filtered methods.",
                            "profiler> filtering package itest",
                            "profiler> filtering class java.lang.String",
                            "profiler> filtering class java.lang.Integer", "builtin ok"}));

  const std::string runDir = findRunDirectory(workDir);
  ASSERT_FALSE(runDir.empty());
  EXPECT_EQ(readFile(runDir + "/main.log"),
            "void itest.Builtin(0).main(java.lang.String[]){\n"
            "}\n");
}

KOLVAPROF_RUN_ON_EVERY_JDK(SettingsTest);

}  // namespace
}  // namespace kolvaprof::itest
