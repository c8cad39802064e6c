// Bad input from outside: settings files that cannot be read or make no
// sense, log directories that cannot be made or written, thread names that
// cannot be file names. The program always runs to its end, the agent keeps
// its documented behaviour, and nothing is written outside the log directory.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "format/name_escape.h"
#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using ReliabilityInput = JdkTest;

// Regular files under `dir`, relative to it, sorted.
std::vector<std::string> filesBelow(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (!entry.is_directory()) files.push_back(fs::relative(entry.path(), dir).string());
  std::sort(files.begin(), files.end());
  return files;
}

// Short lines of random bytes (NUL, CR, '=', ';', bytes above 127 among
// them), then two good lines: garbage is skipped line by line and the reading
// goes on.
std::string garbageThenGoodLines() {
  std::mt19937 random(20240601);
  const std::string specials("=\0\r;[ \t\xff\x80", 9);
  std::string text;
  for (int line = 0; line < 400; ++line) {
    const int length = static_cast<int>(random() % 200);
    for (int i = 0; i < length; ++i) {
      const unsigned r = random();
      text += r % 4 == 0 ? specials[(r >> 8) % specials.size()] : static_cast<char>((r >> 8) % 256);
    }
    text += '\n';
  }
  return text + "FilterMode=1\nPackageFilter=itest\n";
}

TEST_P(ReliabilityInput, BadSettingsFilesLeaveTheDefaultsOrWhatIsReadable) {
  const std::string selected = "void itest.Hello(0).main(java.lang.String[]){\n}\n";
  const std::vector<std::string> filteredConsole = console(
      {"profiler> recorde only filtered methods.", "profiler> filtering package itest", "hello from itest"});
  struct Case {
    const char* label;
    std::string path;     // settings path handed to the agent
    std::string content;  // written to settings.ini first, when not empty
    bool defaults;        // else FilterMode=1 and PackageFilter=itest were read
  };
  const std::string dir = root.path() + "/settings-dir";
  makeDirectory(dir);
  std::vector<Case> cases{
      {"directory", dir, "", true},
      // Opens, but every read fails.
      {"unreadable", "/proc/self/mem", "", true},
      {"garbage", settingsPath, garbageThenGoodLines(), false},
      {"long line without end", settingsPath, std::string(4 << 20, 'x'), true},
      {"long line first", settingsPath, std::string(4 << 20, 'x') + "\nFilterMode=1\nPackageFilter=itest\n",
       true},
      {"no equals signs", settingsPath, "FilterMode 1\nPackageFilter\n[FilterMode=1]x\n=\n", true},
  };
  if (::geteuid() != 0) {
    // root reads files whatever their mode
    const std::string locked = root.path() + "/locked.ini";
    writeFile(locked, "FilterMode=1\n");
    ::chmod(locked.c_str(), 0);
    cases.push_back({"no read permission", locked, "", true});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (!c.content.empty()) writeFile(settingsPath, c.content);
    const JavaResult result = runJava(jdkHome, workDir, {agentOption(c.path)}, "itest.Hello");
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
    EXPECT_EQ(result.stdoutLines(), c.defaults ? console({"hello from itest"}) : filteredConsole);
    const std::string runDir = findRunDirectory(workDir);
    ASSERT_FALSE(runDir.empty());
    const std::string mainLog = readFile(runDir + "/main.log");
    if (c.defaults) {
      EXPECT_TRUE(isBalancedTrace(mainLog, true));
      EXPECT_NE(mainLog.find("\nvoid itest.Hello(0).main(java.lang.String[]){\n"), std::string::npos);
    } else {
      EXPECT_EQ(mainLog, selected);
    }
    fs::remove_all(runDir);
  }
}

// A log directory whose parents are missing is made with them. One that
// cannot be made is named by the echo and, on the next line, said to be lost
// with the reason; no file appears anywhere.
TEST_P(ReliabilityInput, LogDirectoriesThatCannotBeMade) {
  const std::string file = root.path() + "/plain-file";
  writeFile(file, "not a directory");
  struct Case {
    const char* label;
    std::string directory;
    std::string reason;  // empty: the directory is made
  };
  std::vector<Case> cases{{"parent missing", root.path() + "/missing/deeper", ""},
                          {"a regular file", file, "Not a directory"},
                          {"proc file system", "/proc", "No such file or directory"}};
  if (::geteuid() != 0) {
    const std::string locked = root.path() + "/locked";
    makeDirectory(locked);
    ::chmod(locked.c_str(), 0555);
    cases.push_back({"no write permission", locked, "Permission denied"});
  }
  for (const Case& c : cases) {
    for (const char* mode : {"", "SeparateLogfilePerThread=0\nCompressLogfile=1\n"}) {
      SCOPED_TRACE(std::string(c.label) + (*mode ? ", shared binary" : ", per-thread text"));
      const JavaResult result = runWithSettings(
          "LogfileDirectory=" + c.directory + "\nFilterMode=1\nPackageFilter=itest\n" + mode, "itest.Hello");
      ASSERT_FALSE(result.timedOut);
      EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
      std::vector<std::string> lines = result.stdoutLines();
      ASSERT_GT(lines.size(), 5u);
      const std::string echo = "profiler> output logfile in ";
      const std::string logDirectory = lines[4].substr(std::min(lines[4].size(), echo.size()));
      EXPECT_EQ(lines[4].substr(0, echo.size()), echo);
      EXPECT_EQ(logDirectory.substr(0, c.directory.size() + 1), c.directory + "/");
      EXPECT_EQ(logDirectory.size(), c.directory.size() + 16);
      std::vector<std::string> expected{lines[4]};
      if (!c.reason.empty()) {
        expected.push_back("profiler> cannot create log directory " + logDirectory + ": " + c.reason +
                           "; the records meant for it are lost");
      }
      expected.push_back("profiler> recorde only filtered methods.");
      expected.push_back("profiler> filtering package itest");
      if (*mode) {
        expected.push_back("profiler> compress log file");
        expected.push_back("profiler> index file = " + logDirectory + "Index.dat");
      }
      expected.push_back("hello from itest");
      EXPECT_EQ(lines, console(expected));
      EXPECT_THAT(listDirectory(workDir), IsEmpty());
      EXPECT_EQ(readFile(file), "not a directory");
      if (!c.reason.empty()) {
        EXPECT_THAT(filesBelow(root.path()), ElementsAre("plain-file", "settings.ini"));
        continue;
      }
      const std::string stamp = logDirectory.substr(logDirectory.size() - 15, 14);
      const std::vector<std::string> made =
          *mode ? std::vector<std::string>{stamp + ".log", "Index.dat"} : std::vector<std::string>{"main.log"};
      EXPECT_EQ(listDirectory(logDirectory), made);
      fs::remove_all(root.path() + "/missing");
    }
  }
}

// Names that must not become file names get the numbered fallback, counted in
// the order the threads first write; the header keeps the name as the VM gave
// it. A name that fits exactly (251 bytes and ".log") keeps its own file.
TEST_P(ReliabilityInput, OddThreadNamesStayInsideTheLogDirectory) {
  struct Case {
    std::string argument;  // "repeat:N:H" is N times the character H (hex)
    std::string name;      // as the VM reports it (modified UTF-8)
    bool ownFile;
  };
  std::string accented;
  for (int i = 0; i < 130; ++i) accented += "\xc3\xa9";
  const std::vector<Case> cases{
      {"..", "..", false},
      {".", ".", false},
      {"?", "?", false},
      {"q\"uote", "q\"uote", false},
      {"line\nfeed", "line\nfeed", false},
      {"back\\slash", "back\\slash", false},
      {"tab\tname", "tab\tname", false},
      {"repeat:251:6e", std::string(251, 'n'), true},
      {"repeat:252:6e", std::string(252, 'n'), false},
      {"repeat:130:e9", accented, false},
      {"repeat:300:78", std::string(300, 'x'), false},
      {"with space", "with space", true},
      {"repeat:2:e9", "\xc3\xa9\xc3\xa9", true},
  };
  std::vector<std::string> args;
  for (const Case& c : cases) args.push_back(c.argument);
  const std::string logs = root.path() + "/logs";
  makeDirectory(logs);
  writeFile(settingsPath, "LogfileDirectory=" + logs +
                              "\nFilterMode=1\nPackageFilter=itest.reliability\nRecordThreadID=1\n");
  const JavaResult result =
      runJava(jdkHome, workDir, {agentOption(settingsPath)}, "itest.reliability.OddNames", args);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
  EXPECT_EQ(result.stdoutLines().back(), "profiler> exit");

  const std::string runDir = findRunDirectory(logs);
  ASSERT_FALSE(runDir.empty());
  const std::string runName = fs::relative(runDir, root.path()).string();
  std::vector<std::string> expectedFiles{"settings.ini", runName + "/main.log", runName + "/run.json"};
  int fallback = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    const std::string file = c.ownFile ? c.name + ".log" : "(" + std::to_string(fallback++) + ").log";
    expectedFiles.push_back(runName + "/" + file);
    const std::string trace = readFile(runDir + "/" + file);
    // @thread N = "name" / @N void itest.reliability.OddNames(T).run(){ / @N }
    const std::size_t space = trace.find(' ', 8);
    ASSERT_NE(space, std::string::npos) << trace;
    const std::string thread = trace.substr(8, space - 8);
    const std::size_t tagAt = trace.find("OddNames(") + 9;
    const std::string tag = trace.substr(tagAt, trace.find(')', tagAt) - tagAt);
    EXPECT_EQ(trace, "@thread " + thread + " = \"" + escapeName(c.name) + "\"\n@" + thread +
                         " void itest.reliability.OddNames(" + tag + ").run(){\n@" + thread + " }\n");
  }
  std::sort(expectedFiles.begin(), expectedFiles.end());
  EXPECT_EQ(filesBelow(root.path()), expectedFiles);
  EXPECT_THAT(listDirectory(workDir), IsEmpty());
}

KOLVAPROF_RUN_ON_EVERY_JDK(ReliabilityInput);

}  // namespace
}  // namespace kolvaprof::itest
