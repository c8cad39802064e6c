// Ends of a VM while threads are deep in logged calls: exit and halt from a
// worker, daemons still running, an uncaught exception, a stack overflow
// unwinding thousands of frames, and SIGKILL, which loses the buffered
// records but must never leave a damaged one except at the very end of a file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>

#include "integration/java_run.h"
#include "support/trace_check.h"

namespace kolvaprof::itest {
namespace {

using ::kolvaprof::testing::RecordFields;
using ::kolvaprof::testing::reportedCalls;
using ::kolvaprof::testing::TraceCheck;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class ReliabilityShutdown : public JdkTest {
 protected:
  JavaResult run(const std::string& logs, const std::string& settings, const std::string& mainClass,
                 const std::vector<std::string>& args, int timeoutSeconds = kDefaultTimeoutSeconds) {
    makeDirectory(logs);
    writeFile(settingsPath,
              "LogfileDirectory=" + logs + "\nFilterMode=1\nPackageFilter=itest.reliability\n" + settings);
    return runJava(jdkHome, workDir, {agentOption(settingsPath)}, mainClass, args, timeoutSeconds);
  }
};

TEST_P(ReliabilityShutdown, VmEndsWhileThreadsAreDeepInCalls) {
  struct Case {
    const char* mode;
    int status;
    const char* said;  // on standard output, or standard error for the uncaught exception
    const char* deepThreads;
  };
  const Case cases[] = {
      {"exit", 5, "ending with exit", "deep-"},
      {"halt", 6, "ending with halt", "deep-"},
      {"daemon", 0, "main done", "deep-"},
      {"uncaught", 1, "Exception in thread \"main\" java.lang.IllegalStateException: leaves main", "deep-"},
      {"overflow", 0, "overflow done", "overflow"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const std::string logs = root.path() + "/" + c.mode;
    // Receivers of logged calls only: with every JDK call fetching one at a
    // safepoint while four threads spin, the JDK's own exit path can take
    // tens of seconds.
    const JavaResult result = run(logs, "ReceiverTags=2\n", "itest.reliability.Shutdown", {c.mode});
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, c.status) << result.stderrText;
    const std::vector<std::string> lines = result.stdoutLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "profiler> exit");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "profiler> exit"), 1);
    if (c.status == 1) {
      EXPECT_THAT(result.stderrText, HasSubstr(c.said));
    } else {
      EXPECT_THAT(lines, Contains(c.said));
      EXPECT_THAT(result.stderrText, Not(HasSubstr("Exception")));
    }
    EXPECT_THAT(result.stderrText, Not(HasSubstr("fatal error")));
    EXPECT_THAT(listDirectory(workDir), IsEmpty());  // no hs_err file

    // Every file whole lines that nest; every thread's file written out up
    // to its last record, however deep it was.
    const std::string runDir = findRunDirectory(logs);
    ASSERT_FALSE(runDir.empty());
    TraceCheck check({false, false});
    std::vector<long> deepest;
    for (const std::string& file : listDirectory(runDir)) {
      check.addText(file, readFile(runDir + "/" + file), true, false);
    }
    for (const auto& [number, thread] : check.threads)
      if (thread.file.rfind(c.deepThreads, 0) == 0) deepest.push_back(thread.depth);
    EXPECT_TRUE(check.ok(false));
    const std::map<std::string, long> entries = check.entriesPerMethod();
    if (std::string(c.mode) == "overflow") {
      ASSERT_EQ(deepest.size(), 1u);
      EXPECT_EQ(deepest[0], 0);
      const auto said = std::find_if(lines.begin(), lines.end(),
                                     [](const std::string& l) { return l.rfind("overflow depth ", 0) == 0; });
      ASSERT_NE(said, lines.end());
      const long reached = std::stol(said->substr(15));
      const long down = entries.at("Shutdown.down");
      EXPECT_GE(reached, 1000);
      // The frame whose entry overflowed may or may not have been announced.
      EXPECT_TRUE(down == reached || down == reached + 1) << down << " entries, depth " << reached;
      EXPECT_EQ(check.exceptionExits, down);
      std::printf("[ figures  ] stack overflow unwound %ld logged frames\n", down);
    } else {
      // run, deep(150)..deep(0), bottom, perhaps tick: 153 or 154 calls open.
      ASSERT_EQ(deepest.size(), 4u);
      for (const long depth : deepest) {
        EXPECT_GE(depth, 153);
        EXPECT_LE(depth, 154);
      }
      EXPECT_EQ(check.exceptionExits, std::string(c.mode) == "uncaught" ? 4 : 0);
    }
    for (const auto& [number, thread] : check.threads) {
      if (thread.file == "main.log" &&
          (std::string(c.mode) == "uncaught" || std::string(c.mode) == "overflow")) {
        EXPECT_EQ(thread.depth, 0) << "main ended, by return or by exception";
      }
    }
  }
}

// SIGKILL at a moment the test does not choose, while four threads call
// without pause: each file holds whole records in order, with at most one cut
// record (or compact block) at its very end; what was still buffered is lost.
TEST_P(ReliabilityShutdown, SigkillLeavesOnlyWholeRecordsBeforeAtMostOneCut) {
  std::random_device entropy;
  struct Mode {
    const char* label;
    bool binary;
    bool shared;
    bool compact = false;
  };
  for (const Mode mode : {Mode{"text-per-thread", false, false}, Mode{"text-shared", false, true},
                          Mode{"binary-per-thread", true, false}, Mode{"binary-shared", true, true},
                          Mode{"compact-per-thread", true, false, true}}) {
    SCOPED_TRACE(mode.label);
    const int killAfter = 2 + static_cast<int>(entropy() % 2);
    const std::string logs = root.path() + "/" + mode.label;
    const JavaResult result = run(logs,
                                  // Without receiver tags the reporting main thread is not held up
                                  // by a safepoint for every JDK call it makes while the workers run.
                                  std::string("RecordThreadID=1\nRecordMethodCallCount=1\nReceiverTags=0\n") +
                                      (mode.shared ? "SeparateLogfilePerThread=0\n" : "") +
                                      (mode.compact  ? "CompressLogfile=2\n"
                                       : mode.binary ? "CompressLogfile=1\n"
                                                     : ""),
                                  "itest.reliability.Busy", {"4"}, killAfter);
    ASSERT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 128 + 9);
    EXPECT_THAT(result.stdoutText, Not(HasSubstr("profiler> exit")));
    long reported = 0;
    // The kill can cut the program's last line before its number.
    for (const std::string& line : result.stdoutLines())
      if (line.rfind("calls made ", 0) == 0 && line.size() > 11 && std::isdigit(line[11]))
        reported = std::stol(line.substr(11));

    const std::string runDir = findRunDirectory(logs);
    ASSERT_FALSE(runDir.empty());
    TraceCheck check({true, true});
    long bytes = 0;
    long files = 0;
    for (const std::string& file : listDirectory(runDir)) {
      std::string content = readFile(runDir + "/" + file);
      bytes += static_cast<long>(content.size());
      if (file == "Index.dat") {
        // Complete lines only: it is cut, like any file, only at its end.
        check.addIndex(content.substr(0, content.rfind('\n') + 1));
        continue;
      }
      ++files;
      if (mode.compact) {
        const CompactRecords records = compactRecords(content);
        EXPECT_FALSE(records.damaged) << file;
        content = records.fixed;
      }
      if (mode.binary)
        check.addBinary(file, content, !mode.shared, true);
      else
        check.addText(file, content, !mode.shared, true);
    }
    EXPECT_TRUE(check.ok(false));
    EXPECT_GT(check.records, 0) << "nothing reached the disk before the kill";
    long entries = 0;
    for (const auto& entry : check.entriesPerMethod()) entries += entry.second;
    std::printf(
        "[ figures  ] SIGKILL after %d s, %s: %ld bytes in %ld log files, %ld whole records "
        "(%ld calls), %ld cut, %ld calls reported made by then\n",
        killAfter, mode.label, bytes, files, check.records, entries, check.cutRecords, reported);
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(ReliabilityShutdown);

}  // namespace
}  // namespace kolvaprof::itest
