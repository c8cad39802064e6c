// Where the bytecode engine meets limits: what it must leave as it is it
// counts, and says once at the end of the run (the names with Verbose=1);
// what a compiler adds for its own tools does not keep a class from being
// traced; and the hooks class is found by name, as README says.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

enum class Classes {
  Compiled,      // the test programs as the build compiled them
  Jcov,          // itest/Calls.java compiled with javac -Xjcov (character range tables)
  FullPool,      // Full: a class whose constant pool has no room for the hooks' entries
};

struct LimitCase {
  const char* name;
  const char* settings;
  Classes classes;
  const char* mainClass;
  std::vector<std::string> lastLines;  // of standard output
  const char* traced;                  // in main.log; nullptr when nothing is traced
};

void PrintTo(const LimitCase& limitCase, std::ostream* out) { *out << limitCase.name; }

constexpr const char* kBytecode = "CaptureMode=bytecode\nFilterMode=1\nPackageFilter=itest*\n";
constexpr const char* kFullOnly = "CaptureMode=bytecode\nFilterMode=1\nClassFilter=.Full\n";
constexpr const char* kNoRoom = "no room in the constant pool for the hooks' references";

const LimitCase kCases[] = {
    {"CharacterRangesTraced", kBytecode, Classes::Jcov, "itest.Calls",
     {"calls ok", "profiler> exit"}, "void itest.Calls(0).main(java.lang.String[]){\n"},
    {"FullConstantPoolCounted", kFullOnly, Classes::FullPool, "Full",
     {"full", std::string("profiler> left as they are, not traced: 2 methods (") + kNoRoom +
                  ": 2) (Verbose=1 names them)",
      "profiler> exit"},
     nullptr},
    {"FullConstantPoolNamed", "Verbose=1\nCaptureMode=bytecode\nFilterMode=1\nClassFilter=.Full\n",
     Classes::FullPool, "Full",
     {"profiler> register class Full",
      std::string("profiler> method main([Ljava/lang/String;)V left as it is: ") + kNoRoom,
      std::string("profiler> method work()V left as it is: ") + kNoRoom, "full",
      std::string("profiler> left as they are, not traced: 2 methods (") + kNoRoom + ": 2)",
      "profiler> exit"},
     nullptr},
    // Rewritten code finds the hooks class through its own loader, so a
    // program's own loader is asked for it, and the boot loader's class is
    // found by name before a program's class of that name.
    {"HooksFoundByName", kBytecode, Classes::Compiled, "itest.HooksLookup",
     {"own loader asked for kolvaprof.Hooks: true", "kolvaprof.Hooks from the boot loader",
      "profiler> exit"},
     "void itest.HooksLookup$Child(B).run(){\n}\n"},
    {"NoHooksWithEvents", "FilterMode=1\nPackageFilter=itest*\n", Classes::Compiled,
     "itest.HooksLookup",
     {"own loader asked for kolvaprof.Hooks: false", "kolvaprof.Hooks from the class path",
      "profiler> exit"},
     "void itest.HooksLookup$Child(B).run(){\n}\n"},
};

// Full.class, version 49: main prints "full" and calls work(); after its
// own entries the pool is filled up to two free slots.
std::string fullPoolClass() {
  std::string out;
  auto u1 = [&](uint32_t v) { out.push_back(static_cast<char>(v)); };
  auto u2 = [&](uint32_t v) { u1(v >> 8), u1(v); };
  auto u4 = [&](uint32_t v) { u2(v >> 16), u2(v & 0xffff); };
  auto utf8 = [&](const std::string& text) { u1(1), u2(static_cast<uint32_t>(text.size())), out += text; };
  auto refer = [&](uint32_t tag, uint32_t a, uint32_t b) { u1(tag), u2(a), u2(b); };
  auto classOf = [&](uint32_t name) { u1(7), u2(name); };
  u4(0xCAFEBABE), u2(0), u2(49), u2(65533);
  utf8("Full"), classOf(1), utf8("java/lang/Object"), classOf(3);             // 1-4
  utf8("main"), utf8("([Ljava/lang/String;)V"), utf8("Code");                 // 5-7
  utf8("work"), utf8("()V"), refer(12, 8, 9), refer(10, 2, 10);               // 8-11
  utf8("java/lang/System"), classOf(12), utf8("out"), utf8("Ljava/io/PrintStream;");  // 12-15
  refer(12, 14, 15), refer(9, 13, 16);                                         // 16-17
  utf8("java/io/PrintStream"), classOf(18), utf8("println"), utf8("(Ljava/lang/String;)V");
  refer(12, 20, 21), refer(10, 19, 22);                                        // 22-23
  utf8("full"), u1(8), u2(24);                                                 // 24-25
  for (int k = 26; k < 65533; ++k) utf8("p" + std::to_string(k));
  u2(0x21), u2(2), u2(4), u2(0), u2(0);  // access, this, super, interfaces, fields
  u2(2);                                 // methods
  const std::string mainCode = {'\xb2', 0, 17, 0x12, 25, '\xb6', 0, 23, '\xb8', 0, 11, '\xb1'};
  for (const auto& [access, name, descriptor, code] :
       {std::make_tuple(0x9, 5, 6, mainCode), std::make_tuple(0x8, 8, 9, std::string("\xb1"))}) {
    u2(access), u2(name), u2(descriptor), u2(1);
    u2(7), u4(static_cast<uint32_t>(12 + code.size()));  // Code
    u2(2), u2(1), u4(static_cast<uint32_t>(code.size()));
    out += code;
    u2(0), u2(0);  // handlers, attributes
  }
  u2(0);  // class attributes
  return out;
}

class BytecodeLimits : public ::testing::WithParamInterface<std::tuple<std::string, LimitCase>>,
                       public JavaRunFixture {
 protected:
  BytecodeLimits() : JavaRunFixture(std::get<0>(GetParam())) {}

  // The class path the case runs on.
  std::string classPath(Classes classes) {
    const std::string dir = root.path() + "/classes";
    switch (classes) {
      case Classes::Compiled:
        return KOLVAPROF_TEST_CLASSES;
      case Classes::Jcov: {
        const std::string command = "'" + jdkHome + "/bin/javac' -Xjcov -g -d '" + dir + "' '" +
                                    KOLVAPROF_SOURCE_DIR + "/tests/java/itest/Calls.java'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return dir;
      }
      case Classes::FullPool:
        makeDirectory(dir);
        writeFile(dir + "/Full.class", fullPoolClass());
        return dir;
    }
    return dir;
  }
};

TEST_P(BytecodeLimits, SaysWhatItLeavesAndTracesTheRest) {
  const LimitCase& limit = std::get<1>(GetParam());
  writeFile(settingsPath, limit.settings);
  const JavaResult result =
      runJava(jdkHome, workDir,
              verifyingAll({agentOption(settingsPath), "-cp", classPath(limit.classes), limit.mainClass}),
              "");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
  std::vector<std::string> lines = result.stdoutLines();
  if (lines.size() > limit.lastLines.size()) lines.erase(lines.begin(), lines.end() - limit.lastLines.size());
  EXPECT_EQ(lines, limit.lastLines) << result.stdoutText;
  if (limit.traced == nullptr) {
    EXPECT_THAT(listDirectory(workDir), ::testing::IsEmpty());  // no run directory
    return;
  }
  const std::string runDir = findRunDirectory(workDir);
  const std::string trace = readFile(runDir + "/main.log");
  EXPECT_THAT(TraceNormalizer()(trace), ::testing::HasSubstr(limit.traced));
  EXPECT_TRUE(isBalancedTrace(trace, true));
}

INSTANTIATE_TEST_SUITE_P(
    Jdk, BytecodeLimits,
    ::testing::Combine(::testing::ValuesIn(testJdks()), ::testing::ValuesIn(kCases)),
    [](const ::testing::TestParamInfo<std::tuple<std::string, LimitCase>>& info) {
      return jdkDisplayName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(BytecodeLimits);

}  // namespace
}  // namespace kolvaprof::itest
