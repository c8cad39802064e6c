// The kolvaprof command on real JVMs: run passes the program's status on and
// says where the trace went, list finds a running JVM, attach refuses what it
// cannot attach to with one clear line, and traces a running program for a
// while and detaches, again and again.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

namespace fs = std::filesystem;

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};

// A child process with its output in files; killed at destruction if still
// running.
class Child {
 public:
  Child(std::vector<std::string> argv, const std::string& workDir, const std::string& outputDir,
        const std::vector<std::pair<std::string, std::string>>& environment = {})
      : outPath_(outputDir + "/out-" + std::to_string(++counter_)), errPath_(outPath_ + ".err") {
    pid_ = startProcess(std::move(argv), workDir, outPath_, errPath_, environment);
  }
  // A JVM ended by SIGTERM removes its hsperfdata file; one that does not
  // end within 5 s is killed.
  ~Child() {
    if (pid_ <= 0 || finished_) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 250 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  int pid() const { return pid_; }
  std::string out() const { return readFile(outPath_); }
  std::string err() const { return readFile(errPath_); }

  // Waits until `text` shows in the output (true) or the time is over.
  bool waitForOutput(const std::string& text, int seconds = 30) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if ((out() + err()).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  CommandResult wait(int seconds = kDefaultTimeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        ADD_FAILURE() << "timed out";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    finished_ = true;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {code, out(), err()};
  }

 private:
  static inline int counter_ = 0;
  std::string outPath_, errPath_;
  pid_t pid_ = -1;
  bool finished_ = false;
};

bool waitForTracing(const Child& attach) { return attach.waitForOutput("kolvaprof: tracing JVM"); }

class CommandTest : public JdkTest {
 protected:
  std::string java() const { return jdkHome + "/bin/java"; }

  // The java that `kolvaprof run` starts inherits the environment meant for
  // every java of the tests (a sanitizer run preloads its runtime there).
  CommandResult kolvaprof(std::vector<std::string> args,
                          const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    args.insert(args.begin(), KOLVAPROF_COMMAND);
    std::vector<std::pair<std::string, std::string>> all = environmentForJava();
    all.insert(all.end(), environment.begin(), environment.end());
    return Child(args, workDir, root.path(), all).wait();
  }

  // A Ticker that runs up to a minute, ready for signals when this returns.
  std::unique_ptr<Child> startTicker(std::vector<std::string> options = {}) {
    std::vector<std::string> argv{java(), "-XX:+UseSerialGC"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-cp", KOLVAPROF_TEST_CLASSES, "itest.Ticker", "60"});
    auto ticker = std::make_unique<Child>(argv, workDir, root.path(), environmentForJava());
    EXPECT_TRUE(ticker->waitForOutput("ticking")) << ticker->err();
    return ticker;
  }
};

TEST_P(CommandTest, RunTracesAndPassesTheExitStatusOn) {
  const std::string tmp = root.path() + "/tmp";
  makeDirectory(tmp);
  // The file's directory loses to the pair; its filters stay.
  writeFile(settingsPath, "LogfileDirectory=from-file\nFilterMode=1\nPackageFilter=itest\n");
  const std::vector<std::pair<std::string, int>> cases = {{"0", 0}, {"3", 3}, {"-9", 128 + SIGKILL}};
  for (const auto& [argument, status] : cases) {
    SCOPED_TRACE(argument);
    const CommandResult result = kolvaprof(
        {"run", "--settings", settingsPath, "LogfileDirectory=logs", "--", java(), "-cp",
         KOLVAPROF_TEST_CLASSES, "itest.Ticker", "0", argument},
        {{"TMPDIR", tmp}});
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_NE(result.out.find("profiler> filtering package itest"), std::string::npos) << result.out;
    if (status == 128 + SIGKILL) continue;  // buffered records die with the VM
    std::smatch match;
    ASSERT_TRUE(std::regex_search(result.err, match, std::regex("kolvaprof: trace in (.*/logs/[0-9]{14}(-[0-9]+)?/)\n")))
        << result.err;
    EXPECT_EQ(fs::path(match[1].str()).parent_path().parent_path(), fs::path(workDir) / "logs");
    EXPECT_NE(readFile(match[1].str() + "main.log").find(").tick()"), std::string::npos);
    EXPECT_EQ(runReader({"check", match[1].str()}, root.path()).status, 0);
  }
  EXPECT_FALSE(fs::exists(workDir + "/from-file"));
  EXPECT_TRUE(listDirectory(tmp).empty()) << "the settings file stays behind";
}

TEST_P(CommandTest, ListShowsARunningJvm) {
  auto ticker = startTicker({"-XX:-UsePerfData"});  // found through /proc alone
  const CommandResult result = kolvaprof({"list"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find(std::to_string(ticker->pid()) + " itest.Ticker\n"), std::string::npos)
      << result.out;
}

TEST_P(CommandTest, AttachRefusesWithOneClearLine) {
  // A pid that was just set free.
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  Child sleeper({"sleep", "60"}, workDir, root.path());
  auto closed = startTicker({"-XX:+DisableAttachMechanism"});

  struct Case {
    std::string name;
    std::vector<std::string> command;
    std::string message;
  };
  std::vector<Case> cases = {
      {"no such process", {KOLVAPROF_COMMAND, "attach", std::to_string(gone)}, "no such process"},
      {"not a JVM", {KOLVAPROF_COMMAND, "attach", std::to_string(sleeper.pid())}, "is not a Java VM"},
      {"attach switched off", {KOLVAPROF_COMMAND, "attach", std::to_string(closed->pid())},
       "-XX:+DisableAttachMechanism"},
      {"detach, not a JVM", {KOLVAPROF_COMMAND, "detach", std::to_string(sleeper.pid())}, "is not a Java VM"},
  };
  if (::geteuid() == 0 && fs::exists("/usr/bin/setpriv"))
    cases.push_back({"another user's JVM",
                     {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", KOLVAPROF_COMMAND,
                      "attach", std::to_string(closed->pid())},
                     "belongs to user root"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandResult result = Child(c.command, "/", root.path()).wait();
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(splitLines(result.err).size(), 1u) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
  // The refused JVM got no SIGQUIT (which would print a thread dump) and runs on.
  EXPECT_EQ(closed->out().find("Full thread dump"), std::string::npos);
  EXPECT_EQ(::kill(closed->pid(), 0), 0);
}

bool agentAttaches() {
  void* library = ::dlopen(KOLVAPROF_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  const bool found = library != nullptr && ::dlsym(library, "Agent_OnAttach") != nullptr;
  if (library != nullptr) ::dlclose(library);
  return found;
}

TEST_P(CommandTest, AttachTracesForAWhileAndDetachesAgainAndAgain) {
  if (!agentAttaches()) GTEST_SKIP() << "the agent library has no Agent_OnAttach";
  auto ticker = startTicker();
  const std::string pid = std::to_string(ticker->pid());
  const std::string logs = root.path() + "/logs";
  std::vector<std::string> runs;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const CommandResult result =
        kolvaprof({"attach", pid, "--for", "2", "LogfileDirectory=" + logs, "FilterMode=1", "PackageFilter=itest"});
    ASSERT_EQ(result.status, 0) << result.err << ticker->out();
    const std::string run = splitLines(result.out).empty() ? "" : splitLines(result.out).back();
    ASSERT_EQ(run.rfind(logs + "/", 0), 0u) << result.out;
    EXPECT_NE(readFile(run + "main.log").find(").tick()"), std::string::npos) << run;
    EXPECT_EQ(runReader({"check", run}, root.path()).status, 0);
    runs.push_back(run);
  }
  EXPECT_NE(runs[0], runs[1]);

  // Until `kolvaprof detach`; a second attach meanwhile is refused.
  Child waiting({KOLVAPROF_COMMAND, "attach", pid, "LogfileDirectory=" + logs}, workDir, root.path());
  ASSERT_TRUE(waitForTracing(waiting)) << waiting.err();
  const CommandResult twice = kolvaprof({"attach", pid, "--for", "1"});
  EXPECT_EQ(twice.status, 1);
  EXPECT_NE(twice.err.find("traced already"), std::string::npos) << twice.err;
  const CommandResult detached = kolvaprof({"detach", pid});
  EXPECT_EQ(detached.status, 0) << detached.err;
  EXPECT_EQ(detached.out.rfind(logs + "/", 0), 0u) << detached.out;
  EXPECT_EQ(waiting.wait().status, 0);
  const CommandResult again = kolvaprof({"detach", pid});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("is not traced"), std::string::npos) << again.err;
  EXPECT_EQ(::kill(ticker->pid(), 0), 0) << "the program runs on";
}

KOLVAPROF_RUN_ON_EVERY_JDK(CommandTest);

}  // namespace
}  // namespace kolvaprof::itest
