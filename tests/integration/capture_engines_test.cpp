// The two ways of catching calls give the same run: each program is traced
// once by method events and once by hooks in its bytecode (with every class
// verified), and the console and every file must agree, receiver numbers
// compared by structure (one object, one number). Runs with ReceiverTags 0 or
// 2 number the same entries in the same order and are compared byte for byte.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <regex>
#include <tuple>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

struct EngineCase {
  const char* name;
  const char* settings;
  const char* mainClass;
  bool sameBytes;  // no normalising needed
  bool asJavaAgent = false;  // the main class is also loaded as a Java agent
};

void PrintTo(const EngineCase& engineCase, std::ostream* out) { *out << engineCase.name; }

constexpr const char* kOwnCode = "FilterMode=1\nPackageFilter=itest*\n";

const EngineCase kCases[] = {
    {"OwnCode", kOwnCode, "itest.Calls", false},
    {"Excluded",
     "PackageFilter=java*\nPackageFilter=jdk*\nPackageFilter=sun*\n"
     "ClassFilter=itest.Calls$Nested\nMethodFilter=factorial\n",
     "itest.Calls", false},
    {"Constructors", kOwnCode, "itest.Builders", false},
    {"Receivers", "FilterMode=1\nPackageFilter=itest*\nMethodFilter=AbstractCollection.toString\n"
     "MethodFilter=AbstractCollection.containsAll\n",
     "itest.Receivers", false},
    {"ReceiversLoggedOnly", "ReceiverTags=2\nFilterMode=1\nPackageFilter=itest*\n",
     "itest.Receivers", true},
    {"RetransformedByAnotherAgent", kOwnCode, "itest.Retransformer", false, true},
    // Retransformed while main runs on: caller indexes of the frames that
    // span it, and one line per method in Index.dat.
    {"RetransformedCallerIndexes", "RecordCallerLocation=1\nFilterMode=1\nPackageFilter=itest\n",
     "itest.Reloaded", false, true},
    {"RetransformedIndex",
     "Verbose=1\nCompressLogfile=1\nReceiverTags=2\nFilterMode=1\nPackageFilter=itest\n",
     "itest.Reloaded", true, true},
    // Superclass constructors without hooks (the JDK's, a filtered package's)
    // that throw, call back, make objects and run a traced one above them.
    {"UntracedSuperConstructors", "FilterMode=1\nPackageFilter=itest\n", "itest.Supers", false},
    {"UntracedSuperConstructorsLoggedOnly", "ReceiverTags=2\nFilterMode=1\nPackageFilter=itest\n",
     "itest.Supers", true},
    {"UntracedSuperConstructorsExcluded",
     "PackageFilter=java*\nPackageFilter=jdk*\nPackageFilter=sun*\n"
     "ClassFilter=itest.untraced.Shelf\nMethodFilter=Middle.<init>\n",
     "itest.Supers", false},
    {"StartMethod", "StartMethod=itest.Starter.run\nFilterMode=1\nPackageFilter=itest\n",
     "itest.Starter", false},
    {"GetFilteredMethod",
     "StartMethod=itest.Filtered.work\nGetFilteredMethod=1\nFilterMode=1\nPackageFilter=itest\n",
     "itest.Filtered", false},
    {"GetFilteredMethodWithoutBuiltIn",
     "StartMethod=itest.Filtered.work\nGetFilteredMethod=1\nFilterMode=1\nPackageFilter=itest\n"
     "IgnoreBuiltInClass=1\n",
     "itest.Filtered", false},
    {"ExcludedRecursion",
     "FilterMode=1\nMethodFilter=Gates.main\nMethodFilter=Gates.leaf\nGetFilteredMethod=1\n",
     "itest.Gates", false},
    {"ThreadsShared",
     "SeparateLogfilePerThread=0\nRecordThreadID=1\nRecordMethodCallCount=1\nFilterMode=1\n"
     "PackageFilter=itest*\n",
     "itest.TwoThreads", false},
    {"BytecodeIndexes", "RecordCallerLocation=1\nFilterMode=1\nPackageFilter=itest*\n",
     "itest.caller.Lines", false},
    {"SourceLines", "RecordCallerLocation=2\nReceiverTags=2\nFilterMode=1\nPackageFilter=itest*\n",
     "itest.caller.Lines", true},
    {"Binary",
     "CompressLogfile=1\nRecordThreadID=1\nRecordMethodCallCount=1\nReceiverTags=2\n"
     "FilterMode=1\nPackageFilter=itest*\n",
     "itest.Builders", true},
    {"BinaryNoReceivers", "CompressLogfile=1\nReceiverTags=0\nFilterMode=1\nPackageFilter=itest*\n",
     "itest.Calls", true},
    // Calls reported whole at their return.
    {"Leaves", "RecordThreadID=1\nRecordMethodCallCount=1\nFilterMode=1\nPackageFilter=itest*\n",
     "itest.Leaves", false},
    {"LeafStartMethod", "StartMethod=itest.Leaves$Noop.run\nFilterMode=1\nPackageFilter=itest*\n",
     "itest.Leaves", false},
    // JDK 17's accessor classes, defined by loaders that cannot find them by
    // name, traced with the program.
    {"ReflectionAndSerialization",
     "FilterMode=1\nPackageFilter=itest*\nClassFilter=jdk.internal.reflect.Generated*\n",
     "itest.Reflection", false},
};

class CaptureEngines : public ::testing::WithParamInterface<std::tuple<std::string, EngineCase>>,
                       public JavaRunFixture {
 protected:
  CaptureEngines() : JavaRunFixture(std::get<0>(GetParam())) {}

  struct Run {
    std::vector<std::string> console;
    std::vector<std::string> files;
    std::string contents;
  };

  Run trace(const std::string& label, const std::string& settings, bool normalise) {
    const std::string logs = root.path() + "/" + label;
    makeDirectory(logs);
    writeFile(settingsPath, "LogfileDirectory=" + logs + "\n" + settings);
    const EngineCase& engineCase = std::get<1>(GetParam());
    std::vector<std::string> options = {agentOption(settingsPath)};
    if (engineCase.asJavaAgent) options.push_back("-javaagent:" + javaAgentJar(engineCase.mainClass));
    const JavaResult result = runJava(jdkHome, workDir, verifyingAll(options), engineCase.mainClass);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
    Run run;
    // The bytecode engine's own lines: its echo, and what it left untraced
    // (java.lang.Object, where GetFilteredMethod takes the JDK in), which
    // BytecodeLimits checks.
    for (const std::string& line : result.stdoutLines()) {
      // Verbose: the events engine names every class it learns, the JDK's
      // too; the program's own are named by both, once each.
      const bool otherClass = line.rfind("profiler> register class ", 0) == 0 &&
                              line.rfind("profiler> register class itest.", 0) != 0;
      if (line.find(logs) == std::string::npos && !otherClass &&
          line != "profiler> capture calls by bytecode rewriting." &&
          line.rfind("profiler> left as they are, not traced: ", 0) != 0) {
        run.console.push_back(line);
      }
    }
    const std::string dir = findRunDirectory(logs);
    static const std::regex stampLog("[0-9]{14}\\.log");
    TraceNormalizer normalizer;
    for (const std::string& file : listDirectory(dir)) {
      run.files.push_back(std::regex_match(file, stampLog) ? "<stamp>.log" : file);
      std::string bytes = readFile(dir + "/" + file);
      if (file == "Index.dat") bytes = withoutThreadLines(bytes);
      run.contents += "== " + run.files.back() + "\n" + (normalise ? normalizer(bytes) : bytes);
    }
    return run;
  }

  // A jar that names the main class as its Java agent, with the right to
  // retransform classes; the class itself stays on the class path.
  std::string javaAgentJar(const std::string& mainClass) {
    const std::string jar = root.path() + "/agent.jar";
    const std::string manifest = root.path() + "/manifest.txt";
    writeFile(manifest, "Premain-Class: " + mainClass + "\nCan-Retransform-Classes: true\n");
    const std::string command = "'" + jdkHome + "/bin/jar' cfm '" + jar + "' '" + manifest +
                                "' -C '" + root.path() + "' manifest.txt";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return jar;
  }
};

TEST_P(CaptureEngines, BytecodeRunEqualsEventsRun) {
  const EngineCase& engineCase = std::get<1>(GetParam());
  const Run events = trace("events", engineCase.settings, !engineCase.sameBytes);
  const Run bytecode = trace("bytecode", std::string(engineCase.settings) + "CaptureMode=bytecode\n",
                             !engineCase.sameBytes);
  EXPECT_EQ(bytecode.console, events.console);
  EXPECT_EQ(bytecode.files, events.files);
  EXPECT_EQ(bytecode.contents, events.contents);
}

INSTANTIATE_TEST_SUITE_P(
    Jdk, CaptureEngines,
    ::testing::Combine(::testing::ValuesIn(testJdks()), ::testing::ValuesIn(kCases)),
    [](const ::testing::TestParamInfo<std::tuple<std::string, EngineCase>>& info) {
      return jdkDisplayName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CaptureEngines);

}  // namespace
}  // namespace kolvaprof::itest

namespace kolvaprof::itest {
namespace {

// Real JDK tools traced whole (the JDK's start-up classes rewritten after the
// fact, every class verified, every receiver numbered, binary records): each
// prints what it prints without the agent, ends alike, writes the same files,
// and the reader finds the run clean. "@out" is a directory of each run's
// own, "@root" the test's directory, "@sources" a small package's sources,
// "@classes" the test programs' classes. On JDK 17 jshell and jdeps call
// constructors through reflection often enough to meet its generated
// accessors.
struct ToolCase {
  const char* name;
  std::vector<std::string> arguments;  // java options, then -m module/class and its arguments
  bool sameFiles;  // @out holds the same files after both runs
};

void PrintTo(const ToolCase& toolCase, std::ostream* out) { *out << toolCase.name; }

const ToolCase kTools[] = {
    {"javac", {"-m", "jdk.compiler/com.sun.tools.javac.Main", "-d", "@out", "@sources"}, true},
    {"jshell",
     {"-Djava.util.prefs.userRoot=@root/prefs", "-m",
      "jdk.jshell/jdk.internal.jshell.tool.JShellToolProvider", "--execution", "local",
      "--no-startup", "-q", "@root/script.jsh"},
     false},
    {"jdeps", {"-m", "jdk.jdeps/com.sun.tools.jdeps.Main", "-verbose:class", "@classes"}, false},
    {"javadoc",
     {"-m", "jdk.javadoc/jdk.javadoc.internal.tool.Main", "-quiet", "-notimestamp",
      "-Xdoclint:none", "-d", "@out", "@sources"},
     true},
};

constexpr const char* kJshellScript =
    "int square(int x) { return x * x; }\n"
    "record Pair(int a, String b) {}\n"
    "System.out.println(java.util.stream.IntStream.range(0, 5).map(i -> square(i)).sum());\n"
    "System.out.println(new Pair(1, \"one\"));\n"
    "/exit\n";

class WholeJdkTools : public ::testing::WithParamInterface<std::tuple<std::string, ToolCase>>,
                      public JavaRunFixture {
 protected:
  WholeJdkTools() : JavaRunFixture(std::get<0>(GetParam())) {}

  JavaResult runTool(const std::string& label, std::vector<std::string> options) {
    const std::string sources = std::string(KOLVAPROF_SOURCE_DIR) + "/bench/javac-input/";
    for (const std::string& argument : std::get<1>(GetParam()).arguments) {
      if (argument == "@sources") {
        for (const char* name : {"CalcException", "Token", "Node", "Parser", "Calculator"}) {
          options.push_back(sources + name + ".java");
        }
      } else if (argument == "@out") {
        options.push_back(root.path() + "/" + label);
      } else if (argument == "@classes") {
        options.push_back(std::string(KOLVAPROF_TEST_CLASSES) + "/itest");
      } else {
        options.push_back(std::regex_replace(argument, std::regex("@root"), root.path()));
      }
    }
    return runJava(jdkHome, workDir, options, "", {}, 600);
  }

  static std::vector<std::string> programLines(const JavaResult& result) {
    std::vector<std::string> lines;
    for (const std::string& line : result.stdoutLines()) {
      if (line.rfind("profiler> ", 0) != 0) lines.push_back(line);
    }
    return lines;
  }
};

TEST_P(WholeJdkTools, DoTheirWorkAndLeaveACleanRun) {
  const ToolCase& tool = std::get<1>(GetParam());
  writeFile(root.path() + "/script.jsh", kJshellScript);
  const JavaResult plain = runTool("plain", {});
  ASSERT_FALSE(plain.timedOut);
  ASSERT_EQ(plain.exitStatus, 0) << plain.stderrText;

  const std::string logs = root.path() + "/logs";
  makeDirectory(logs);
  writeFile(settingsPath, "LogfileDirectory=" + logs + "\nCompressLogfile=1\nCaptureMode=bytecode\n");
  const JavaResult traced = runTool("traced", verifyingAll({agentOption(settingsPath)}));
  ASSERT_FALSE(traced.timedOut);
  EXPECT_EQ(traced.exitStatus, plain.exitStatus) << traced.stderrText;
  EXPECT_EQ(programLines(traced), programLines(plain)) << traced.stderrText;
  // Something to compare.
  EXPECT_FALSE(tool.sameFiles ? listDirectory(root.path() + "/plain").empty()
                              : programLines(plain).empty());
  if (tool.sameFiles) {
    const std::string diff = "diff -r '" + root.path() + "/plain' '" + root.path() + "/traced'";
    EXPECT_EQ(std::system((diff + " >/dev/null").c_str()), 0) << diff;
  }

  const std::string runDir = findRunDirectory(logs);
  const ReaderResult check = runReader({"check", runDir}, root.path());
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_NE(check.out.find("problems: none\nresult: clean\n"), std::string::npos) << check.out;
}

INSTANTIATE_TEST_SUITE_P(
    Jdk, WholeJdkTools,
    ::testing::Combine(::testing::ValuesIn(testJdks()), ::testing::ValuesIn(kTools)),
    [](const ::testing::TestParamInfo<std::tuple<std::string, ToolCase>>& info) {
      return jdkDisplayName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(WholeJdkTools);

// Hooks called with numbers never handed out, foreign or missing receivers,
// exits without entries, on the main thread and on another: the program runs
// on and the traced calls around them are logged whole.
class BadHookCalls : public JdkTest {};

TEST_P(BadHookCalls, LeaveTheProgramAndTheTraceWhole) {
  writeFile(settingsPath, "FilterMode=1\nPackageFilter=itest*\nCaptureMode=bytecode\n");
  const JavaResult run =
      runJava(jdkHome, workDir, verifyingAll({agentOption(settingsPath)}), "itest.BadHooks");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0) << run.stderrText;
  EXPECT_THAT(run.stdoutLines(), ::testing::Contains("bad hooks done 3"));
  const std::string runDir = findRunDirectory(workDir);
  ASSERT_FALSE(runDir.empty());
  for (const std::string& file : listDirectory(runDir)) {
    EXPECT_TRUE(isBalancedTrace(readFile(runDir + "/" + file), true)) << file;
  }
  EXPECT_THAT(readFile(runDir + "/main.log"),
              ::testing::HasSubstr("int itest.BadHooks(0).traced(int){\n}\n"));
}

KOLVAPROF_RUN_ON_EVERY_JDK(BadHookCalls);

}  // namespace
}  // namespace kolvaprof::itest
