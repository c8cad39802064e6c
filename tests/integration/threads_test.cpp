// Traces of several Java threads: per-thread and shared files, thread numbers
// and call numbers, file names made from thread names, and a VM that ends
// while threads are still calling methods.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::Pair;

using ThreadsTest = JdkTest;

const char* const kSelectItest = "FilterMode=1\nPackageFilter=itest\n";

// main's calls are numbered 1-3 and 6, the worker's 4 and 5: main waits for
// the worker, and only these calls are logged in the whole process.
TEST_P(ThreadsTest, PerThreadFilesWithThreadAndCallNumbers) {
  const JavaResult result = runWithSettings(
      std::string(kSelectItest) + "RecordThreadID=1\nRecordMethodCallCount=1\n", "itest.TwoThreads");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
  EXPECT_EQ(result.stdoutLines(),
            console({"profiler> recorde only filtered methods.", "profiler> filtering package itest",
                     "profiler> record thread ID.", "profiler> record method call count.",
                     "two threads done"}));

  const std::string runDir = findRunDirectory(workDir);
  ASSERT_FALSE(runDir.empty());
  ASSERT_THAT(listDirectory(runDir), ElementsAre("itest-worker.log", "main.log"));
  TraceNormalizer normalize;
  EXPECT_EQ(normalize(readFile(runDir + "/main.log")),
            "@thread T1 = \"main\"\n"
            "@T1 1 void itest.TwoThreads(0).main(java.lang.String[]){\n"
            "@T1 2 int itest.TwoThreads(0).work(int){\n"
            "@T1 }\n"
            "@T1 3 void itest.TwoThreads(A).<init>(){\n"
            "@T1 }\n"
            "@T1 6 int itest.TwoThreads(0).work(int){\n"
            "@T1 }\n"
            "@T1 }\n");
  EXPECT_EQ(normalize(readFile(runDir + "/itest-worker.log")),
            "@thread T2 = \"itest-worker\"\n"
            "@T2 4 void itest.TwoThreads(A).run(){\n"
            "@T2 5 int itest.TwoThreads(0).work(int){\n"
            "@T2 }\n"
            "@T2 }\n");
}

// SeparateLogfilePerThread=0 after LogfileDirectory: one file <stamp>.log in
// the configured directory, each thread's header before its first record.
TEST_P(ThreadsTest, SharedLogfileInConfiguredDirectory) {
  const std::string logs = root.path() + "/logs";
  makeDirectory(logs);
  const JavaResult result = runWithSettings(
      "LogfileDirectory=" + logs + "/\nSeparateLogfilePerThread=0\nRecordThreadID=1\n"
      "RecordMethodCallCount=1\n" + kSelectItest,
      "itest.TwoThreads");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
  const std::string runDir = findRunDirectory(logs);
  ASSERT_FALSE(runDir.empty());
  const std::string stamp = runDir.substr(runDir.size() - 14);
  EXPECT_EQ(result.stdoutLines(),
            console({"profiler> output logfile in " + runDir + "/", "profiler> record thread ID.",
                     "profiler> record method call count.",
                     "profiler> recorde only filtered methods.", "profiler> filtering package itest",
                     "two threads done"}));

  EXPECT_THAT(listDirectory(workDir), IsEmpty());
  ASSERT_THAT(listDirectory(runDir), ElementsAre(stamp + ".log"));
  EXPECT_EQ(TraceNormalizer()(readFile(runDir + "/" + stamp + ".log")),
            "@thread T1 = \"main\"\n"
            "@T1 1 void itest.TwoThreads(0).main(java.lang.String[]){\n"
            "@T1 2 int itest.TwoThreads(0).work(int){\n"
            "@T1 }\n"
            "@T1 3 void itest.TwoThreads(A).<init>(){\n"
            "@T1 }\n"
            "@thread T2 = \"itest-worker\"\n"
            "@T2 4 void itest.TwoThreads(A).run(){\n"
            "@T2 5 int itest.TwoThreads(0).work(int){\n"
            "@T2 }\n"
            "@T2 }\n"
            "@T1 6 int itest.TwoThreads(0).work(int){\n"
            "@T1 }\n"
            "@T1 }\n");
}

// Threads run one after another: twin, twin(2), twin, (1), star*, "" and
// ../../x. A repeated name gets the first "(N)" no thread has; names that
// cannot be file names get the numbered fallback in the log directory, in the
// order the threads first write, passing over the numbers other files hold.
TEST_P(ThreadsTest, FileNamesFromThreadNames) {
  const JavaResult result = runWithSettings(kSelectItest, "itest.Names");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
  EXPECT_THAT(result.stdoutLines(), Contains("names done"));

  EXPECT_THAT(listDirectory(root.path()), ElementsAre("settings.ini", "work"));
  const std::string runDir = findRunDirectory(workDir);
  ASSERT_FALSE(runDir.empty());
  EXPECT_EQ(listDirectory(workDir).size(), 1u);
  const std::vector<std::string> files{"twin.log", "twin(2).log", "twin(3).log", "(1).log",
                                       "(0).log",  "(2).log",     "(3).log"};
  std::vector<std::string> sorted = files;
  sorted.push_back("main.log");
  std::sort(sorted.begin(), sorted.end());
  ASSERT_EQ(listDirectory(runDir), sorted);
  // One normaliser for all files: thread i runs the i-th object made by main.
  TraceNormalizer normalize;
  std::string inits;
  for (std::size_t i = 0; i < files.size(); ++i)
    inits += std::string("void itest.Names(") + char('A' + i) + ").<init>(int){\n}\n";
  EXPECT_EQ(normalize(readFile(runDir + "/main.log")),
            "void itest.Names(0).main(java.lang.String[]){\n" + inits + "}\n");
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(normalize(readFile(runDir + "/" + files[i])),
              std::string("void itest.Names(") + char('A' + i) +
                  ").run(){\nint itest.Names(0).work(int){\n}\n}\n")
        << files[i];
  }
}

// Both threads throw all the time, each its own exception: an exit names the
// exception that its own thread threw, whatever the other threw meanwhile.
TEST_P(ThreadsTest, ExitsNameTheExceptionOfTheirOwnThread) {
  // Without receiver tags, which stop every thread at a safepoint, the two
  // threads really run side by side.
  const JavaResult result = runWithSettings(std::string(kSelectItest) + "ReceiverTags=0\n", "itest.Throwers");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
  EXPECT_THAT(result.stdoutLines(), Contains("throwers done"));
  const std::string runDir = findRunDirectory(workDir);
  ASSERT_FALSE(runDir.empty());
  const std::pair<const char*, const char*> threads[] = {
      {"main.log", "} java.lang.IllegalStateException"},
      {"thrower.log", "} java.lang.NumberFormatException"}};
  for (const auto& [file, own] : threads) {
    std::map<std::string, int> exits;
    for (const std::string& line : splitLines(readFile(runDir + "/" + file)))
      if (line.rfind("} ", 0) == 0) ++exits[line];
    EXPECT_THAT(exits, ElementsAre(Pair(own, 2 * 20000))) << file;
  }
}

// System.exit while three workers keep calling: no crash, the program's exit
// status, the exit line last, and every file made of whole, nesting lines.
TEST_P(ThreadsTest, ExitWhileWorkersAreCalling) {
  const JavaResult result = runWithSettings(kSelectItest, "itest.ExitRace");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 3) << result.stderrText;
  const std::vector<std::string> lines = result.stdoutLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "profiler> exit");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "profiler> exit"), 1);
  EXPECT_THAT(lines, Contains("exiting with 3"));
  EXPECT_THAT(result.stderrText, Not(HasSubstr("fatal error")));

  const std::string runDir = findRunDirectory(workDir);
  ASSERT_FALSE(runDir.empty());
  EXPECT_EQ(listDirectory(workDir).size(), 1u);  // no hs_err file either
  const std::vector<std::string> files = listDirectory(runDir);
  for (const char* name : {"main.log", "racer-0.log", "racer-1.log", "racer-2.log"})
    EXPECT_THAT(files, Contains(name));
  for (const std::string& file : files) {
    const std::string trace = readFile(runDir + "/" + file);
    EXPECT_TRUE(isBalancedTrace(trace, false)) << file;
    if (file.rfind("racer-", 0) == 0) {
      EXPECT_THAT(trace, HasSubstr("int itest.ExitRace(0).depth(int){\n")) << file;
    }
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(ThreadsTest);

}  // namespace
}  // namespace kolvaprof::itest
