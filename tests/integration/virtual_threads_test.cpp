// Virtual threads, each traced as a thread of its own: thousands of them
// park inside nested calls, resume on any carrier, end by an exception or
// are still parked at System.exit, in every output mode.

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

constexpr int kThreads = 2000;
constexpr int kStuck = 20;

struct Mode {
  const char* label;
  const char* settings;
  bool fromMiddle;  // StartMethod: only middle() and what it calls
};

const Mode kModes[] = {
    {"text_per_thread", "", false},
    {"text_shared_thread_ids", "SeparateLogfilePerThread=0\nRecordThreadID=1\n", false},
    {"binary_per_thread_thread_ids", "CompressLogfile=1\nRecordThreadID=1\nRecordMethodCallCount=1\n", false},
    {"binary_shared", "CompressLogfile=1\nSeparateLogfilePerThread=0\n", false},
    {"start_method", "StartMethod=itest.VirtualThreads.middle\n", true},
    // The hooks of rewritten code key a virtual thread alike; times ride along.
    {"bytecode_text_per_thread", "CaptureMode=bytecode\nRecordTime=1\n", false},
    {"bytecode_binary_shared", "CaptureMode=bytecode\nCompressLogfile=1\nSeparateLogfilePerThread=0\n", false},
    {"bytecode_compact_thread_ids", "CaptureMode=bytecode\nCompressLogfile=2\nRecordThreadID=1\nRecordTime=1\n", false},
};

class VirtualThreadsTest : public JdkTest {
 protected:
  std::string reader(const std::vector<std::string>& args, int* status) {
    std::string command = "'" KOLVAPROF_READER "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    const std::string out = root.path() + "/reader.out";
    const int raw = std::system((command + " >'" + out + "' 2>&1").c_str());
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return readFile(out);
  }
};

// Per thread, the set of folded stacks its calls made, written with the
// initials of the methods (R run, O outer, M middle, I inner, S stuck,
// Q the uncaught-exception handler).
std::map<std::string, std::set<std::string>> stacksByThread(const std::string& collapsed) {
  static const std::map<std::string, std::string> kInitials = {
      {"itest.VirtualThreads$Task.run()", "R"},         {"itest.VirtualThreads.outer(int)", "O"},
      {"itest.VirtualThreads.middle(int)", "M"},        {"itest.VirtualThreads.inner(int)", "I"},
      {"itest.VirtualThreads.stuck(int)", "S"},
      {"itest.VirtualThreads$Quiet.uncaughtException(java.lang.Thread,java.lang.Throwable)", "Q"}};
  std::map<std::string, std::set<std::string>> threads;
  for (const std::string& line : splitLines(collapsed)) {
    std::vector<std::string> frames;
    std::string rest = line.substr(0, line.rfind(' '));
    for (std::size_t cut; (cut = rest.find(';')) != std::string::npos; rest.erase(0, cut + 1)) {
      frames.push_back(rest.substr(0, cut));
    }
    frames.push_back(rest);
    std::string shape;
    for (std::size_t i = 1; i < frames.size(); ++i) {
      const auto initial = kInitials.find(frames[i]);
      shape += (i > 1 ? ";" : "") + (initial == kInitials.end() ? frames[i] : initial->second);
    }
    if (line.substr(line.rfind(' ')) != " 1") shape += " x" + line.substr(line.rfind(' ') + 1);
    threads[frames[0]].insert(shape);
  }
  return threads;
}

TEST_P(VirtualThreadsTest, EachVirtualThreadNestsOnItsOwnInEveryMode) {
  if (jdkMajorVersion(jdkHome) < 21) GTEST_SKIP() << "no virtual threads before JDK 21";
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.label);
    const std::string logs = root.path() + "/" + mode.label;
    makeDirectory(logs);
    // Receivers of the few instance calls only: fetching them costs the VM
    // far more on a virtual thread than on a platform thread.
    const JavaResult result = runWithSettings(
        "LogfileDirectory=" + logs + "\nFilterMode=1\nPackageFilter=itest\nReceiverTags=2\n" + mode.settings,
        "itest.VirtualThreads", {std::to_string(kThreads), std::to_string(kStuck)});
    ASSERT_FALSE(result.timedOut);
    ASSERT_EQ(result.exitStatus, 0) << result.stderrText;
    const std::string runDir = findRunDirectory(logs);
    ASSERT_FALSE(runDir.empty());
    // One file for all of them, not one each.
    EXPECT_THAT(listDirectory(runDir), ::testing::Contains("VirtualThreads.vlog"));
    EXPECT_LE(listDirectory(runDir).size(), 4u);

    int status = -1;
    const std::string check = reader({"check", runDir}, &status);
    EXPECT_EQ(status, 0) << check;
    EXPECT_THAT(check, ::testing::HasSubstr("problems: none\nresult: clean\n"));
    // Still open at the exit: main's call and the stuck threads' two each.
    EXPECT_THAT(check, ::testing::HasSubstr(mode.fromMiddle ? "calls still open at the end: none"
                                                            : "calls still open at the end: " +
                                                                  std::to_string(1 + 2 * kStuck) + " "));

    const std::string collapsed = reader({"collapsed", "--by-thread", runDir}, &status);
    ASSERT_EQ(status, 0) << collapsed;
    const std::set<std::string> body = mode.fromMiddle ? std::set<std::string>{"M", "M;I"}
                                                       : std::set<std::string>{"R", "R;O", "R;O;M", "R;O;M;I"};
    std::map<std::string, int> shapes;
    int named = 0;
    int unnamed = 0;
    for (const auto& [thread, stacks] : stacksByThread(collapsed)) {
      const bool isNamed = thread.rfind("vt-", 0) == 0;
      const bool isUnnamed = thread.rfind("VirtualThread-", 0) == 0;
      if (!isNamed && !isUnnamed) continue;  // main, by its name or its file's
      named += isNamed;
      unnamed += isUnnamed;
      std::set<std::string> rest;
      for (const std::string& stack : stacks) {
        if (body.count(stack) == 0) rest.insert(stack);
      }
      EXPECT_EQ(stacks.size() - rest.size(), body.size()) << thread;
      ++shapes[rest.empty() ? "" : *rest.begin()];
      EXPECT_LE(rest.size(), 1u) << thread;
    }
    EXPECT_EQ(named, kThreads / 2);
    EXPECT_EQ(unnamed, kThreads / 2);
    if (mode.fromMiddle) {
      EXPECT_THAT(shapes, ::testing::ElementsAre(::testing::Pair("", kThreads)));
    } else {
      const int failing = (kThreads - kStuck) / 100;  // k % 100 == 99, none of them stuck
      EXPECT_THAT(shapes, ::testing::ElementsAre(::testing::Pair("", kThreads - kStuck - failing),
                                                 ::testing::Pair("Q", failing), ::testing::Pair("R;S", kStuck)));
    }
  }
}

// Virtual threads blocking on a pipe and a socket, interrupting themselves,
// asking their name and state, traced whole: every one ends with its calls
// closed and the program's calls nested as the program makes them, though
// the VM reports no method events while such a thread has its suspension
// off. The events engine's default receiver fetches are said to stall them.
TEST_P(VirtualThreadsTest, BlockingThreadsCloseTheirCallsInEveryEngine) {
  if (jdkMajorVersion(jdkHome) < 21) GTEST_SKIP() << "no virtual threads before JDK 21";
  constexpr int kBlocking = 8;
  const std::string warning =
      "profiler> virtual threads: fetching the receiver of every call (ReceiverTags=1) stalls them all; "
      "CaptureMode=bytecode or ReceiverTags=2 keeps them fast.";
  for (const char* engine : {"events", "bytecode"}) {
    SCOPED_TRACE(engine);
    const std::string logs = root.path() + "/" + engine;
    makeDirectory(logs);
    const JavaResult result = runWithSettings("LogfileDirectory=" + logs + "\nCaptureMode=" + engine + "\n",
                                              "itest.VirtualBlocking", {std::to_string(kBlocking)});
    ASSERT_FALSE(result.timedOut);
    ASSERT_EQ(result.exitStatus, 0) << result.stderrText;
    const std::vector<std::string> lines = result.stdoutLines();
    EXPECT_THAT(lines, ::testing::Contains("blocking done"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), warning), std::string(engine) == "events" ? 1 : 0);
    const std::string runDir = findRunDirectory(logs);
    ASSERT_FALSE(runDir.empty());

    int status = -1;
    const std::string check = reader({"check", runDir}, &status);
    EXPECT_EQ(status, 0) << check;
    EXPECT_THAT(check, ::testing::Not(::testing::HasSubstr("left open")));
    EXPECT_THAT(check, ::testing::HasSubstr("problems: none\nresult: clean\n"));

    // The program's own frames of each thread, without the JDK's between
    // them (L the thread's lambda body, W work, P pipe, S socket, A the
    // questions about itself, D done).
    static const std::map<std::string, std::string> kInitials = {
        {"itest.VirtualBlocking.lambda$main$1(int[],int,java.net.ServerSocket)", "L"},
        {"itest.VirtualBlocking.work(int,int)", "W"},
        {"itest.VirtualBlocking.viaPipe(int)", "P"},
        {"itest.VirtualBlocking.viaSocket(int,int)", "S"},
        {"itest.VirtualBlocking.aboutSelf(int)", "A"},
        {"itest.VirtualBlocking.done(int)", "D"}};
    const std::string collapsed = reader({"collapsed", "--by-thread", runDir}, &status);
    ASSERT_EQ(status, 0) << collapsed;
    std::map<std::string, std::set<std::string>> shapes;
    for (const std::string& line : splitLines(collapsed)) {
      std::string rest = line.substr(0, line.rfind(' '));
      const std::string thread = rest.substr(0, rest.find(';'));
      std::string shape;
      for (std::size_t at = rest.find(';'); at != std::string::npos;) {
        const std::size_t next = rest.find(';', at + 1);
        const auto initial = kInitials.find(rest.substr(at + 1, next == std::string::npos ? next : next - at - 1));
        if (initial != kInitials.end()) shape += initial->second;
        at = next;
      }
      if (!shape.empty()) shapes[thread].insert(shape);
    }
    const std::set<std::string> expected{"L", "LW", "LWP", "LWS", "LWA", "LWD"};
    int blocking = 0;
    for (const auto& [thread, stacks] : shapes) {
      if (thread.rfind("VirtualThread-", 0) != 0) continue;
      ++blocking;
      EXPECT_EQ(stacks, expected) << thread;
    }
    EXPECT_EQ(blocking, kBlocking);
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(VirtualThreadsTest);

}  // namespace
}  // namespace kolvaprof::itest
