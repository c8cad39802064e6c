// Caller locations and the filtered-method gate, seen on a real VM. The
// expected indexes and lines follow javac's bytecode for tests/java/itest/caller.

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

class CallerLocation : public JdkTest {
 protected:
  // Runs mainClass with a log directory of its own (named by `label`) and
  // the given settings lines; returns the run directory.
  std::string run(const std::string& label, const std::string& mainClass, const std::string& settings) {
    const std::string logs = root.path() + "/" + label;
    makeDirectory(logs);
    const JavaResult result = runWithSettings("LogfileDirectory=" + logs + "\n" + settings, mainClass);
    EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
    return findRunDirectory(logs);
  }
};

std::string mainThreadLog(const std::string& runDir) { return runDir + "/main.log"; }

TEST_P(CallerLocation, EntriesCarryTheCallersBytecodeIndexOrSourceLine) {
  // Locations in call order: main, callAtZero, first (called at index 0),
  // callMidLine, helper (mid-line), callAtLineStart, first (first instruction
  // of its line), Worker.<init>, then on the worker thread run and helper.
  struct Case {
    std::string mode;
    std::vector<std::string> from;
  };
  const Case cases[] = {
      {"1", {"-1", "0", "0", "3", "3", "6", "2", "13", "-1", "2"}},
      {"2", {"-1", "38", "14", "39", "18", "40", "23", "41", "-1", "33"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("RecordCallerLocation=" + c.mode);
    const std::string runDir = run("logs" + c.mode, "itest.caller.Lines",
                                   "FilterMode=1\nPackageFilter=itest.caller\nRecordCallerLocation=" + c.mode + "\n");
    const std::vector<std::string> files = listDirectory(runDir);
    ASSERT_EQ(files.size(), 2u) << runDir;
    ASSERT_NE(std::find(files.begin(), files.end(), "caller-worker.log"), files.end());

    auto from = [&](int i) { return "From:" + c.from[i] + " "; };
    const std::string lines = "itest.caller.Lines(0).";
    TraceNormalizer normalize;
    EXPECT_EQ(normalize(readFile(mainThreadLog(runDir))),
              from(0) + "void " + lines + "main(java.lang.String[]){\n" +
              from(1) + "void " + lines + "callAtZero(){\n" +
              from(2) + "void " + lines + "first(){\n}\n}\n" +
              from(3) + "void " + lines + "callMidLine(){\n" +
              from(4) + "int " + lines + "helper(int){\n}\n}\n" +
              from(5) + "void " + lines + "callAtLineStart(){\n" +
              from(6) + "void " + lines + "first(){\n}\n}\n" +
              from(7) + "void itest.caller.Lines$Worker(A).<init>(){\n}\n}\n");
    EXPECT_EQ(normalize(readFile(runDir + "/caller-worker.log")),
              from(8) + "void itest.caller.Lines$Worker(A).run(){\n" +
              from(9) + "int " + lines + "helper(int){\n}\n}\n");
  }
}

TEST_P(CallerLocation, FilteredMethodIsLoggedWhereLoggedCodeCallsItButNothingInside) {
  const std::string runDir = run("logs", "itest.caller.UsesHelper",
                                 "FilterMode=1\nPackageFilter=itest.caller\nGetFilteredMethod=1\n");
  ASSERT_EQ(listDirectory(runDir).size(), 1u) << runDir;
  const std::string trace = readFile(mainThreadLog(runDir));
  ASSERT_TRUE(isBalancedTrace(trace, true)) << trace;

  // Logged code may also call into the VM's own excluded classes (the class
  // loader resolving Helper, say); keep only calls into itest code.
  const std::vector<std::string> lines = splitLines(trace);
  std::string kept;
  std::vector<bool> open;  // per open call: whether it is kept
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == "}") {
      if (open.back()) kept += "}\n";
      open.pop_back();
      continue;
    }
    if (lines[i].find("lib.Helper") != std::string::npos) {
      ASSERT_LT(i + 1, lines.size());
      EXPECT_EQ(lines[i + 1], "}") << "a call inside the filtered class was logged";
    }
    open.push_back((open.empty() || open.back()) && lines[i].find(" itest.") != std::string::npos);
    if (open.back()) kept += lines[i] + "\n";
  }
  EXPECT_EQ(kept,
            "void itest.caller.UsesHelper(0).main(java.lang.String[]){\n"
            "int itest.caller.UsesHelper(0).twice(int){\n"
            "int itest.caller.lib.Helper(0).outer(int){\n}\n"
            "int itest.caller.lib.Helper(0).outer(int){\n}\n"
            "}\n}\n");
}

KOLVAPROF_RUN_ON_EVERY_JDK(CallerLocation);

}  // namespace
}  // namespace kolvaprof::itest
