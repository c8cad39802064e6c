// Attaching the agent to a running program with the JDK's own loader
// (jcmd JVMTI.agent_load), tracing it for a while and detaching again.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr auto kPatience = std::chrono::seconds(60);

// itest.Attachable, running in the background until told to stop.
class RunningProgram {
 public:
  RunningProgram(const std::string& jdkHome, const std::string& dir) : control(dir + "/control") {
    makeDirectory(control);
    std::vector<std::string> argv{jdkHome + "/bin/java", "-XX:+UseSerialGC", "-XX:-UsePerfData"};
    for (const std::string& option :
         verifyingAll({"-XX:+EnableDynamicAgentLoading", "--enable-native-access=ALL-UNNAMED",
                       "-cp", KOLVAPROF_TEST_CLASSES, "itest.Attachable", control,
                       KOLVAPROF_TEST_PROBE})) {
      argv.push_back(option);
    }
    outPath = dir + "/stdout";
    errPath = dir + "/stderr";
    pid = startProcess(std::move(argv), dir, outPath, errPath, environmentForJava());
  }
  ~RunningProgram() {
    if (pid > 0 && !ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // The program's own lines, without the agent's.
  std::vector<std::string> ownLines() const {
    std::vector<std::string> own;
    for (const std::string& line : splitLines(readFile(outPath))) {
      if (line.rfind("profiler> ", 0) != 0) own.push_back(line);
    }
    return own;
  }
  std::string console() const { return readFile(outPath); }
  std::string errors() const { return readFile(errPath); }
  // Waits until `more` rounds past those printed now are printed.
  bool waitForRounds(std::size_t more) const {
    const std::size_t wanted = ownLines().size() + more;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (ownLines().size() < wanted) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  // The bytecodes of Shapes.area that the program read before its last round.
  std::string areaBytecodes() const { return readFile(control + "/bytecodes"); }
  // Asks the program to end; its exit status, or -1 when it did not end.
  int stop() {
    writeFile(control + "/stop", "");
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ended = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t pid = -1;

 private:
  std::string control;
  std::string outPath;
  std::string errPath;
  bool ended = false;
};

// jcmd's answer to JVMTI.agent_load, whose last line names the return
// code of Agent_OnAttach.
std::string loadAgent(const std::string& jdkHome, pid_t pid, const std::string& options,
                      const std::string& scratch) {
  const std::string out = scratch + "/jcmd.out";
  const std::string command = "'" + jdkHome + "/bin/jcmd' " + std::to_string(pid) +
                              " JVMTI.agent_load '" KOLVAPROF_LIBRARY "' '" + options + "' >'" +
                              out + "' 2>&1";
  std::system(command.c_str());
  return readFile(out);
}

// File name to size, of every file under the run.
std::map<std::string, std::uintmax_t> fileSizes(const std::string& run) {
  std::map<std::string, std::uintmax_t> sizes;
  for (const auto& entry : fs::recursive_directory_iterator(run)) {
    if (entry.is_regular_file()) sizes[entry.path().string()] = entry.file_size();
  }
  return sizes;
}

std::string wholeRun(const std::string& run) {
  std::string text;
  for (const auto& [file, size] : fileSizes(run)) text += readFile(file);
  return text;
}

// What Attachable prints for a round.
std::string roundLine(int round) {
  int sum = round % 3 == 0 ? 1 : 0;
  for (int i = 0; i < 5; ++i) sum += (round + i) * (round + i);
  return "round " + std::to_string(round) + " sum " + std::to_string(sum);
}

struct AttachCase {
  const char* name;
  const char* settings;  // LogfileDirectory comes first
};

const AttachCase kAttachCases[] = {
    {"only the program, text", "FilterMode=1\nPackageFilter=itest\nRecordThreadID=1\n"},
    {"everything, binary", "CompressLogfile=1\nRecordThreadID=1\nRecordMethodCallCount=1\n"},
};

using AttachTest = JdkTest;

// Two runs one after the other in one program: each traces into a run of
// its own that reads clean, a second attach meanwhile is refused, and once
// detached the program runs its own bytecodes again and writes nothing
// more, its output and exit status as without the agent.
TEST_P(AttachTest, AttachedRunsEndWithTheProgramAsItWas) {
  for (const AttachCase& test : kAttachCases) {
    SCOPED_TRACE(test.name);
    TempDir dir;
    const std::string logs = dir.path() + "/logs";
    const std::string settings = dir.path() + "/settings.ini";
    const std::string eventsSettings = dir.path() + "/events.ini";
    writeFile(settings, "LogfileDirectory=" + logs + "\n" + test.settings);
    writeFile(eventsSettings, "LogfileDirectory=" + logs + "\nCaptureMode=events\n");
    RunningProgram program(jdkHome, dir.path());
    ASSERT_TRUE(program.waitForRounds(2));
    const std::string original = program.areaBytecodes();
    ASSERT_FALSE(original.empty());

    EXPECT_THAT(loadAgent(jdkHome, program.pid, eventsSettings, dir.path()),
                Not(HasSubstr("return code: 0")));
    EXPECT_THAT(program.console(), HasSubstr("profiler> CaptureMode=events cannot attach"));
    EXPECT_THAT(loadAgent(jdkHome, program.pid, "detach", dir.path()),
                Not(HasSubstr("return code: 0")));

    std::vector<std::string> runs;
    for (int session = 0; session < 2; ++session) {
      SCOPED_TRACE("run " + std::to_string(session + 1));
      ASSERT_THAT(loadAgent(jdkHome, program.pid, settings, dir.path()),
                  HasSubstr("return code: 0"));
      ASSERT_TRUE(program.waitForRounds(3));
      EXPECT_NE(program.areaBytecodes(), original);
      const std::vector<std::string> made = listDirectory(logs);
      ASSERT_EQ(made.size(), runs.size() + 1);
      const std::string run = logs + "/" + made.back();
      runs.push_back(run);

      EXPECT_THAT(loadAgent(jdkHome, program.pid, settings, dir.path()),
                  Not(HasSubstr("return code: 0")));
      EXPECT_THAT(program.console(), HasSubstr("profiler> already tracing into " + run + "/"));

      ASSERT_THAT(loadAgent(jdkHome, program.pid, "detach", dir.path()),
                  HasSubstr("return code: 0"));
      ASSERT_TRUE(program.waitForRounds(1));
      const auto sizesAtDetach = fileSizes(run);
      ASSERT_TRUE(program.waitForRounds(3));
      EXPECT_EQ(fileSizes(run), sizesAtDetach);
      EXPECT_EQ(program.areaBytecodes(), original);

      const ReaderResult check = runReader({"check", run}, dir.path());
      EXPECT_EQ(check.status, 0) << check.out << check.err;
      const std::string written = wholeRun(run);
      const auto holds = [&](const char* text) { return written.find(text) != std::string::npos; };
      EXPECT_TRUE(holds("itest.Attachable$Shapes") && holds("area()"));
      // Numbered from the start again, in text and in Index.dat alike.
      EXPECT_TRUE(holds("@thread 0 = \"") || holds("Thread 0=\""));
    }

    ASSERT_EQ(program.stop(), 0);
    const std::vector<std::string> own = program.ownLines();
    ASSERT_GE(own.size(), 2u);
    for (std::size_t round = 0; round + 1 < own.size(); ++round) {
      ASSERT_EQ(own[round], roundLine(static_cast<int>(round)));
    }
    EXPECT_EQ(own.back(), "stopped");
    EXPECT_EQ(program.errors(), "");
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(AttachTest);

}  // namespace
}  // namespace kolvaprof::itest
