#pragma once

// Running a real java with the agent loaded, and reading what it left behind.

#include <gtest/gtest.h>

#include <map>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace kolvaprof::itest {

inline constexpr int kDefaultTimeoutSeconds = 60;

// The options with the verification of every class before them, the JDK's
// own too, which the bytecode engine rewrites.
inline std::vector<std::string> verifyingAll(std::vector<std::string> options) {
  options.insert(options.begin(), {"-XX:+UnlockDiagnosticVMOptions",
                                   "-XX:+BytecodeVerificationLocal",
                                   "-XX:+BytecodeVerificationRemote"});
  return options;
}

// The JDK homes to test on: KOLVAPROF_TEST_JDKS (colon-separated) if set,
// otherwise every directory under /usr/lib/jvm with an executable bin/java,
// each real directory once, sorted.
std::vector<std::string> testJdks();

// "java_17_openjdk_amd64" for /usr/lib/jvm/java-17-openjdk-amd64.
std::string jdkDisplayName(const std::string& jdkHome);

// A fresh directory, removed with its contents at destruction unless
// KOLVAPROF_KEEP_TEST_DIRS is set. The path is canonical, so it compares equal
// to what the JVM reports as its working directory.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// KOLVAPROF_JAVA_ENV_<NAME>=value of the tests' environment, as the
// <NAME>, value pairs to set in every java they start.
std::vector<std::pair<std::string, std::string>> environmentForJava();

// Starts `argv` (argv[0] a path, or a name looked up in PATH) in workDir,
// stdin from /dev/null (or closed), stdout and stderr into the given files,
// with no options from the environment for a JVM and `environment` added;
// the child's pid. Throws when it cannot fork.
pid_t startProcess(std::vector<std::string> argv, const std::string& workDir, const std::string& outPath,
                   const std::string& errPath,
                   const std::vector<std::pair<std::string, std::string>>& environment = {});

// The feature version of the JDK at jdkHome (17, 25, ...), from its release
// file; 0 when it cannot be read.
int jdkMajorVersion(const std::string& jdkHome);

// The fixed-layout records of a file of compact blocks, as far as its blocks
// are whole; whether the file is whole blocks to its end, and whether a
// damaged block (not one cut by the end) stopped the reading.
struct CompactRecords {
  std::string fixed;
  bool whole = false;
  bool damaged = false;
};
CompactRecords compactRecords(const std::string& file);

struct JavaResult {
  int exitStatus = -1;  // 128 + signal number when the JVM was killed
  bool timedOut = false;
  std::string stdoutText;
  std::string stderrText;
  std::vector<std::string> stdoutLines() const;
};

// Runs jdkHome/bin/java with `options`, then (if mainClass is not empty)
// "-cp <test classes> mainClass args...", in workDir, without a shell.
// The JVM is killed when it runs longer than timeoutSeconds.
JavaResult runJava(const std::string& jdkHome, const std::string& workDir,
                   const std::vector<std::string>& options, const std::string& mainClass,
                   const std::vector<std::string>& args = {},
                   int timeoutSeconds = kDefaultTimeoutSeconds);

struct ReaderResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs kolvaprof-read with `args`; its output goes through files in
// scratchDir.
ReaderResult runReader(const std::vector<std::string>& args, const std::string& scratchDir);

// "-agentpath:<library>" or "-agentpath:<library>=<settingsPath>".
std::string agentOption(const std::string& settingsPath = "");

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
void makeDirectory(const std::string& path);
// Entry names, sorted, without a run's run.json (which the manifest tests
// read by name); empty when the directory does not exist.
std::vector<std::string> listDirectory(const std::string& path);
// The one subdirectory of baseDir named by a 14-digit start-time stamp;
// empty (and a test failure) when there is none or more than one.
std::string findRunDirectory(const std::string& baseDir);
std::vector<std::string> splitLines(const std::string& text);

// Index.dat without its Thread lines. The bytecode engine numbers a thread at
// its first entry into rewritten code, so threads that run only code the
// filters leave out (the JDK's own) are numbered by the events engine alone.
std::string withoutThreadLines(const std::string& index);

// Rewrites receiver tags "(N)." (N > 0) as "(A).", "(B)." ... and thread
// numbers ("@N " and "@thread N ") as T1, T2 ... in order of first sight, so
// that traces compare by structure rather than by absolute numbers. One
// instance keeps its naming across several files of the same run.
class TraceNormalizer {
 public:
  std::string operator()(const std::string& text);

 private:
  std::map<std::string, std::string> tags;
  std::map<std::string, std::string> threads;
};

// Every line is an entry ("...{") or an exit ("}..."), optionally behind an
// "@N " thread number, or a thread header; exits never outnumber the entries
// before them; with requireClosed, the depth at the end is 0.
::testing::AssertionResult isBalancedTrace(const std::string& text, bool requireClosed);

// Runs of one JDK, each test in its own temporary directory.
class JavaRunFixture : public ::testing::Test {
 protected:
  explicit JavaRunFixture(std::string jdkHome);
  // Writes `settings` to <root>/settings.ini and runs the main class in
  // workDir with the agent configured by that file.
  JavaResult runWithSettings(const std::string& settings, const std::string& mainClass,
                             const std::vector<std::string>& args = {});
  // The same without a settings file: the agent falls back to profiler.ini,
  // which workDir does not have.
  JavaResult runWithoutSettings(const std::string& mainClass);
  // The whole console of a run: the banner, `lines`, then the exit line.
  std::vector<std::string> console(const std::vector<std::string>& lines) const;

  std::string jdkHome;
  TempDir root;
  std::string workDir;  // <root>/work, the JVM's working directory
  std::string settingsPath;
};

// One test per JDK: the parameter is the JDK home.
class JdkTest : public ::testing::WithParamInterface<std::string>, public JavaRunFixture {
 protected:
  JdkTest() : JavaRunFixture(GetParam()) {}
};

struct JdkName {
  std::string operator()(const ::testing::TestParamInfo<std::string>& info) const {
    return jdkDisplayName(info.param);
  }
};

}  // namespace kolvaprof::itest

#define KOLVAPROF_RUN_ON_EVERY_JDK(Suite)                                                \
  INSTANTIATE_TEST_SUITE_P(Jdk, Suite, ::testing::ValuesIn(::kolvaprof::itest::testJdks()), \
                           ::kolvaprof::itest::JdkName());                                 \
  GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Suite)
