// Text traces of small deterministic programs, compared whole: the console of
// the run and the main thread's log, with receiver tags compared by structure.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <tuple>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

using ::testing::ElementsAre;

struct TraceCase {
  const char* name;
  const char* settings;
  const char* mainClass;
  std::vector<std::string> console;  // between the banner and the exit line
  const char* mainLog;               // normalised
};

void PrintTo(const TraceCase& traceCase, std::ostream* out) { *out << traceCase.name; }

// The whole of itest.Calls, as the program runs it.
const char* const kCallsTrace =
    "void itest.Calls(0).main(java.lang.String[]){\n"
    "void itest.Calls(A).<init>(int){\n"
    "}\n"
    "int itest.Calls(0).twice(int){\n"
    "}\n"
    "void itest.Calls(B).<init>(int){\n"
    "}\n"
    "int itest.Calls(A).add(int){\n"
    "}\n"
    "int itest.Calls(B).add(int){\n"
    "}\n"
    "int itest.Calls(0).factorial(int){\n"
    "int itest.Calls(0).factorial(int){\n"
    "int itest.Calls(0).factorial(int){\n"
    "}\n"
    "}\n"
    "}\n"
    "int itest.Calls(A).add(int){\n"
    "}\n"
    "void itest.Calls$Nested(C).<init>(){\n"
    "}\n"
    "long[] itest.Calls$Nested(C).spread(int[],java.lang.String[]){\n"
    "}\n"
    "void itest.Calls(0).outer(){\n"
    "void itest.Calls(0).inner(){\n"
    "} java.lang.IllegalStateException\n"
    "} java.lang.IllegalStateException\n"
    "}\n";

const TraceCase kCases[] = {
    {"SelectedPackage", "FilterMode=1\nPackageFilter=itest*\n", "itest.Calls",
     {"profiler> recorde only filtered methods.", "profiler> filtering package itest*", "boom",
      "calls ok"},
     kCallsTrace},
    // FilterMode 0 is the default: matching methods are left out, the rest
    // (here: the program without its nested class and factorial) is logged.
    {"ExcludedByFilters",
     "PackageFilter=java*\nPackageFilter=jdk*\nPackageFilter=sun*\n"
     "ClassFilter=itest.Calls$Nested\nMethodFilter=factorial\n",
     "itest.Calls",
     {"profiler> filtering package java*", "profiler> filtering package jdk*",
      "profiler> filtering package sun*", "profiler> filtering class itest.Calls$Nested",
      "profiler> filtering method factorial", "boom", "calls ok"},
     "void itest.Calls(0).main(java.lang.String[]){\n"
     "void itest.Calls(A).<init>(int){\n"
     "}\n"
     "int itest.Calls(0).twice(int){\n"
     "}\n"
     "void itest.Calls(B).<init>(int){\n"
     "}\n"
     "int itest.Calls(A).add(int){\n"
     "}\n"
     "int itest.Calls(B).add(int){\n"
     "}\n"
     "int itest.Calls(A).add(int){\n"
     "}\n"
     "void itest.Calls(0).outer(){\n"
     "void itest.Calls(0).inner(){\n"
     "} java.lang.IllegalStateException\n"
     "} java.lang.IllegalStateException\n"
     "}\n"},
    {"SelectedClassAndMethods",
     "FilterMode=1\nClassFilter=itest.Calls$Nested\nMethodFilter=Calls.factorial\n"
     "MethodFilter=twice\n",
     "itest.Calls",
     {"profiler> recorde only filtered methods.", "profiler> filtering class itest.Calls$Nested",
      "profiler> filtering method Calls.factorial", "profiler> filtering method twice", "boom",
      "calls ok"},
     "int itest.Calls(0).twice(int){\n"
     "}\n"
     "int itest.Calls(0).factorial(int){\n"
     "int itest.Calls(0).factorial(int){\n"
     "int itest.Calls(0).factorial(int){\n"
     "}\n"
     "}\n"
     "}\n"
     "void itest.Calls$Nested(A).<init>(){\n"
     "}\n"
     "long[] itest.Calls$Nested(A).spread(int[],java.lang.String[]){\n"
     "}\n"},
    {"DefaultPackage", "FilterMode=1\nClassFilter=Main\n", "Main",
     {"profiler> recorde only filtered methods.", "profiler> filtering class Main",
      "default package main"},
     "void .Main(0).main(java.lang.String[]){\n"
     "int .Main(0).helper(int){\n"
     "}\n"
     "}\n"},
    // Nothing before or after the start method is logged, and its recursion
    // opens and closes the gate once.
    {"StartMethod", "StartMethod=itest.Starter.run\nFilterMode=1\nPackageFilter=itest\n",
     "itest.Starter",
     {"profiler> logging start from method call of itest.Starter.run",
      "profiler> recorde only filtered methods.", "profiler> filtering package itest",
      "profiler> start method itest.Starter.run invoked.",
      "profiler> start method itest.Starter.run exited.",
      "profiler> start method itest.Starter.run invoked.",
      "profiler> start method itest.Starter.run exited.", "starter ok"},
     "int itest.Starter(0).run(int){\n"
     "int itest.Starter(0).step(int){\n"
     "}\n"
     "int itest.Starter(0).run(int){\n"
     "int itest.Starter(0).step(int){\n"
     "}\n"
     "int itest.Starter(0).run(int){\n"
     "}\n"
     "}\n"
     "}\n"
     "int itest.Starter(0).run(int){\n"
     "}\n"},
    // Each call from the program into excluded library code is logged, and
    // nothing that the library does inside.
    {"GetFilteredMethod",
     "StartMethod=itest.Filtered.work\nGetFilteredMethod=1\nFilterMode=1\nPackageFilter=itest\n",
     "itest.Filtered",
     {"profiler> logging start from method call of itest.Filtered.work",
      "profiler> recorde only filtered methods.", "profiler> filtering package itest",
      "profiler> start method itest.Filtered.work invoked.",
      "profiler> start method itest.Filtered.work exited.", "filtered 42"},
     "java.lang.String itest.Filtered(0).work(){\n"
     "void java.lang.StringBuilder(A).<init>(){\n"
     "}\n"
     "java.lang.StringBuilder java.lang.StringBuilder(A).append(java.lang.String){\n"
     "}\n"
     "java.lang.String java.lang.Integer(0).toString(int){\n"
     "}\n"
     "java.lang.StringBuilder java.lang.StringBuilder(A).append(java.lang.String){\n"
     "}\n"
     "java.lang.String java.lang.StringBuilder(A).toString(){\n"
     "}\n"
     "}\n"},
    // An excluded start method still opens the gate for the calls inside it.
    {"ExcludedStartMethod", "StartMethod=itest.Gates.down\nMethodFilter=down\n", "itest.Gates",
     {"profiler> logging start from method call of itest.Gates.down",
      "profiler> filtering method down", "profiler> start method itest.Gates.down invoked.",
      "profiler> start method itest.Gates.down exited.", "gates ok"},
     "int itest.Gates(0).leaf(int){\n}\n"
     "int itest.Gates(0).leaf(int){\n}\n"
     "int itest.Gates(0).leaf(int){\n}\n"},
    // The logged call into the excluded recursion stays open until that very
    // call returns, not when a call deeper in the recursion does.
    {"ExcludedRecursion",
     "FilterMode=1\nMethodFilter=Gates.main\nMethodFilter=Gates.leaf\nGetFilteredMethod=1\n",
     "itest.Gates",
     {"profiler> recorde only filtered methods.", "profiler> filtering method Gates.main",
      "profiler> filtering method Gates.leaf", "gates ok"},
     "void itest.Gates(0).main(java.lang.String[]){\n"
     "int itest.Gates(0).down(int){\n"
     "int itest.Gates(0).leaf(int){\n}\n"
     "int itest.Gates(0).leaf(int){\n}\n"
     "int itest.Gates(0).leaf(int){\n}\n"
     "}\n"
     "void itest.Gates(0).report(int){\n}\n"
     "}\n"},
    // Two classes of one name from two class loaders are both logged. Their
    // lambdas are in their host's package and numbered in the order they are
    // made, rather than named by the VM's address: the same in every run.
    {"ClassLoadersAndLambdas", "FilterMode=1\nClassFilter=itest.Loaders$Twin*\n", "itest.Loaders",
     {"profiler> recorde only filtered methods.", "profiler> filtering class itest.Loaders$Twin*",
      "two classes"},
     "void itest.Loaders$Twin(A).<init>(){\n}\n"
     "void itest.Loaders$Twin(B).<init>(){\n}\n"
     "void itest.Loaders$Twin(A).run(){\n"
     "void itest.Loaders$Twin$$Lambda$1(C).<init>(){\n}\n"
     "void itest.Loaders$Twin$$Lambda$1(C).run(){\n"
     "void itest.Loaders$Twin(0).lambda$run$0(){\nvoid itest.Loaders$Twin(0).hello(){\n}\n}\n"
     "}\n}\n"
     "void itest.Loaders$Twin(B).run(){\n"
     "void itest.Loaders$Twin$$Lambda$2(D).<init>(){\n}\n"
     "void itest.Loaders$Twin$$Lambda$2(D).run(){\n"
     "void itest.Loaders$Twin(0).lambda$run$0(){\nvoid itest.Loaders$Twin(0).hello(){\n}\n}\n"
     "}\n}\n"},
};

class TextTraceTest : public ::testing::WithParamInterface<std::tuple<std::string, TraceCase>>,
                      public JavaRunFixture {
 protected:
  TextTraceTest() : JavaRunFixture(std::get<0>(GetParam())) {}
};

TEST_P(TextTraceTest, ConsoleAndMainLog) {
  const TraceCase& traceCase = std::get<1>(GetParam());
  const JavaResult result = runWithSettings(traceCase.settings, traceCase.mainClass);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
  EXPECT_EQ(result.stdoutLines(), console(traceCase.console));

  const std::string runDir = findRunDirectory(workDir);
  ASSERT_FALSE(runDir.empty());
  // Only the main thread runs code that the settings let through.
  EXPECT_THAT(listDirectory(runDir), ElementsAre("main.log"));
  const std::string mainLog = readFile(runDir + "/main.log");
  EXPECT_EQ(TraceNormalizer()(mainLog), traceCase.mainLog);
  EXPECT_TRUE(isBalancedTrace(mainLog, true));
}

INSTANTIATE_TEST_SUITE_P(
    Jdk, TextTraceTest, ::testing::Combine(::testing::ValuesIn(testJdks()), ::testing::ValuesIn(kCases)),
    [](const ::testing::TestParamInfo<std::tuple<std::string, TraceCase>>& info) {
      return jdkDisplayName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(TextTraceTest);

}  // namespace
}  // namespace kolvaprof::itest
