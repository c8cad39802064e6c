#include "integration/java_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "format/compact_block.h"

namespace fs = std::filesystem;

namespace kolvaprof::itest {

std::vector<std::string> testJdks() {
  std::vector<std::string> homes;
  if (const char* configured = std::getenv("KOLVAPROF_TEST_JDKS"); configured && *configured) {
    std::stringstream list(configured);
    for (std::string home; std::getline(list, home, ':');)
      if (!home.empty()) homes.push_back(home);
    return homes;
  }
  // Debian installs aliases (java-1.17.0-openjdk-amd64 -> java-17-openjdk-amd64):
  // test each real JDK once.
  std::set<std::string> unique;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/jvm", error)) {
    const fs::path java = entry.path() / "bin" / "java";
    if (fs::is_directory(entry.path(), error) && ::access(java.c_str(), X_OK) == 0)
      unique.insert(fs::canonical(entry.path(), error).string());
  }
  homes.assign(unique.begin(), unique.end());
  return homes;
}

std::string jdkDisplayName(const std::string& jdkHome) {
  std::string name = fs::path(jdkHome).lexically_normal().filename().string();
  if (name.empty()) name = fs::path(jdkHome).lexically_normal().parent_path().filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name.empty() ? "jdk" : name;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/kolvaprof-itest-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + templ);
  path_ = fs::canonical(templ).string();
}

TempDir::~TempDir() {
  if (std::getenv("KOLVAPROF_KEEP_TEST_DIRS") != nullptr) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::vector<std::string> JavaResult::stdoutLines() const { return splitLines(stdoutText); }

pid_t startProcess(std::vector<std::string> argv, const std::string& workDir, const std::string& outPath,
                   const std::string& errPath, const std::vector<std::pair<std::string, std::string>>& environment) {
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::chdir(workDir.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // Options from the environment would add "Picked up ..." lines to stderr.
    ::unsetenv("JAVA_TOOL_OPTIONS");
    ::unsetenv("JDK_JAVA_OPTIONS");
    ::unsetenv("_JAVA_OPTIONS");
    for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
    ::execvp(pointers[0], pointers.data());
    ::_exit(127);
  }
  return pid;
}

CompactRecords compactRecords(const std::string& file) {
  CompactRecords records;
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  for (std::size_t at = 0;;) {
    const CompactBlockRead read = readCompactBlock(bytes + at, file.size() - at, records.fixed);
    if (read.status == CompactBlockRead::kBlock) {
      at += read.consumed;
      continue;
    }
    records.whole = read.status == CompactBlockRead::kEnd;
    records.damaged = read.status == CompactBlockRead::kCorrupt;
    return records;
  }
}

int jdkMajorVersion(const std::string& jdkHome) {
  std::ifstream release(jdkHome + "/release");
  std::string line;
  while (std::getline(release, line)) {
    std::smatch found;
    if (std::regex_search(line, found, std::regex("^JAVA_VERSION=\"(\\d+)"))) return std::stoi(found[1]);
  }
  return 0;
}

// --- Environment meant for the JVM alone --------------------------------------
// KOLVAPROF_JAVA_ENV_<NAME>=value in the tests' environment becomes
// <NAME>=value in the environment of every java they start, and nowhere else:
// a sanitizer runtime can thus be preloaded into java (LD_PRELOAD, ASAN_OPTIONS)
// without being preloaded into the test binary too.
std::vector<std::pair<std::string, std::string>> environmentForJava() {
  static const std::string prefix = "KOLVAPROF_JAVA_ENV_";
  std::vector<std::pair<std::string, std::string>> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::size_t equals = text.find('=');
    if (text.rfind(prefix, 0) == 0 && equals != std::string::npos && equals > prefix.size())
      variables.emplace_back(text.substr(prefix.size(), equals - prefix.size()), text.substr(equals + 1));
  }
  return variables;
}
// -----------------------------------------------------------------------------

JavaResult runJava(const std::string& jdkHome, const std::string& workDir,
                   const std::vector<std::string>& options, const std::string& mainClass,
                   const std::vector<std::string>& args, int timeoutSeconds) {
  // Fewer VM threads and no hsperfdata files: the JVM starts faster on a
  // small machine and leaves nothing outside its directories.
  std::vector<std::string> argv{jdkHome + "/bin/java", "-XX:+UseSerialGC", "-XX:-UsePerfData"};
  argv.insert(argv.end(), options.begin(), options.end());
  if (!mainClass.empty()) {
    argv.insert(argv.end(), {"-cp", KOLVAPROF_TEST_CLASSES, mainClass});
    argv.insert(argv.end(), args.begin(), args.end());
  }
  TempDir outputDir;
  const std::string outPath = outputDir.path() + "/stdout";
  const std::string errPath = outputDir.path() + "/stderr";
  const pid_t pid = startProcess(std::move(argv), workDir, outPath, errPath, environmentForJava());

  JavaResult result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.exitStatus = 128 + WTERMSIG(status);
  result.stdoutText = readFile(outPath);
  result.stderrText = readFile(errPath);
  return result;
}

std::string agentOption(const std::string& settingsPath) {
  std::string option = std::string("-agentpath:") + KOLVAPROF_LIBRARY;
  return settingsPath.empty() ? option : option + "=" + settingsPath;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void makeDirectory(const std::string& path) { fs::create_directories(path); }

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(path, error))
    if (entry.path().filename() != "run.json") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string findRunDirectory(const std::string& baseDir) {
  static const std::regex stamp("[0-9]{14}");
  std::vector<std::string> found;
  for (const std::string& name : listDirectory(baseDir))
    if (std::regex_match(name, stamp) && fs::is_directory(baseDir + "/" + name))
      found.push_back(baseDir + "/" + name);
  if (found.size() != 1) {
    ADD_FAILURE() << "expected one run directory in " << baseDir << ", found " << found.size();
    return "";
  }
  return found.front();
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string withoutThreadLines(const std::string& index) {
  std::string kept;
  for (const std::string& line : splitLines(index)) {
    if (line.rfind("Thread ", 0) != 0) kept += line + "\n";
  }
  return kept;
}

std::string TraceNormalizer::operator()(const std::string& text) {
  static const std::regex header("^@thread ([0-9]+) (.*)$");
  static const std::regex threadPrefix("^@([0-9]+) (.*)$");
  static const std::regex tag("\\(([0-9]+)\\)\\.");
  auto rename = [](std::map<std::string, std::string>& names, const std::string& number,
                   const std::string& fresh) {
    return names.emplace(number, fresh).first->second;
  };
  std::string out;
  for (std::string line : splitLines(text)) {
    std::smatch m;
    if (std::regex_match(line, m, header)) {
      line = "@thread " + rename(threads, m[1], "T" + std::to_string(threads.size() + 1)) + " " +
             m[2].str();
    } else {
      std::string prefix;
      if (std::regex_match(line, m, threadPrefix)) {
        prefix = "@" + rename(threads, m[1], "T" + std::to_string(threads.size() + 1)) + " ";
        line = m[2];
      }
      if (!line.empty() && line.back() == '{' && std::regex_search(line, m, tag) && m[1] != "0") {
        const std::string letter(1, static_cast<char>('A' + tags.size() % 26));
        line = m.prefix().str() + "(" + rename(tags, m[1], letter) + ")." + m.suffix().str();
      }
      line = prefix + line;
    }
    out += line + "\n";
  }
  return out;
}

::testing::AssertionResult isBalancedTrace(const std::string& text, bool requireClosed) {
  static const std::regex threadPrefix("^@[0-9]+ ");
  if (!text.empty() && text.back() != '\n')
    return ::testing::AssertionFailure() << "the last line is not complete";
  long depth = 0;
  int number = 0;
  for (const std::string& raw : splitLines(text)) {
    ++number;
    if (raw.rfind("@thread ", 0) == 0) continue;
    const std::string line = std::regex_replace(raw, threadPrefix, "", std::regex_constants::format_first_only);
    if (!line.empty() && line.front() == '}' && (line.size() == 1 || line[1] == ' ')) {
      if (--depth < 0) return ::testing::AssertionFailure() << "unmatched exit on line " << number;
    } else if (!line.empty() && line.back() == '{' && line.find(' ') != std::string::npos) {
      ++depth;
    } else {
      return ::testing::AssertionFailure() << "malformed line " << number << ": " << raw;
    }
  }
  if (requireClosed && depth != 0)
    return ::testing::AssertionFailure() << depth << " calls still open at the end";
  return ::testing::AssertionSuccess();
}

JavaRunFixture::JavaRunFixture(std::string jdk)
    : jdkHome(std::move(jdk)),
      workDir(root.path() + "/work"),
      settingsPath(root.path() + "/settings.ini") {
  makeDirectory(workDir);
}

ReaderResult runReader(const std::vector<std::string>& args, const std::string& scratchDir) {
  std::string command = "'" KOLVAPROF_READER "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  const std::string out = scratchDir + "/reader.out";
  const std::string err = scratchDir + "/reader.err";
  const int raw = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
}

JavaResult JavaRunFixture::runWithSettings(const std::string& settings, const std::string& mainClass,
                                           const std::vector<std::string>& args) {
  writeFile(settingsPath, settings);
  return runJava(jdkHome, workDir, {agentOption(settingsPath)}, mainClass, args);
}

JavaResult JavaRunFixture::runWithoutSettings(const std::string& mainClass) {
  return runJava(jdkHome, workDir, {agentOption()}, mainClass);
}

std::vector<std::string> JavaRunFixture::console(const std::vector<std::string>& lines) const {
  std::vector<std::string> all{"profiler> version 1.5.1", "profiler> " + workDir,
                               "profiler> initializing ..... ", "profiler> .... ok "};
  all.insert(all.end(), lines.begin(), lines.end());
  all.push_back("profiler> exit");
  return all;
}

}  // namespace kolvaprof::itest
