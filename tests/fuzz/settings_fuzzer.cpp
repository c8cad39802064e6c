// Settings files of arbitrary bytes. The reader must neither crash nor hang,
// and the echo must be exactly what a plain reading of the lines predicts:
// every line split, trimmed and skipped as documented, in file order, and the
// reading ended by the first over-long line.
//
// One agent serves many inputs (its destructor waits for the clock's next
// second). Every '/' of an input becomes '_', and the settings are read two
// levels down in a fresh temporary directory, so that LogfileDirectory lines
// can make directories only inside it.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "support/test_agent.h"

namespace {

using kolvaprof::testing::TestAgent;

constexpr int kInputsPerAgent = 50000;  // then a fresh agent frees the patterns

std::string tempRoot;
std::string workDir;  // two levels below tempRoot
std::string settingsPath;

void fail(const std::string& what) {
  std::fprintf(stderr, "settings fuzzer: %s\n", what.c_str());
  std::abort();
}

// The echo lines that a file predicts, with the agent's start time.
std::vector<std::string> expectedEcho(const std::string& text, const std::string& stamp) {
  std::vector<std::string> echo;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kolvaprof::kMaxSettingsLineLength) break;
    if (line.empty() || line[0] == ';') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = kolvaprof::trimWhitespace(line.substr(0, equals));
    const std::string value = kolvaprof::trimWhitespace(line.substr(equals + 1));
    if (key.empty() || value.empty()) continue;
    if (key == "LogfileDirectory") {
      echo.push_back("output logfile in " + value + (value.back() == '/' ? "" : "/") + stamp + "/");
    } else if (key == "StartMethod") {
      echo.push_back("logging start from method call of " + value);
    } else if (key == "ClassFilter") {
      echo.push_back("filtering class " + value);
    } else if (key == "PackageFilter") {
      echo.push_back("filtering package " + value);
    } else if (key == "MethodFilter") {
      echo.push_back("filtering method " + value);
    } else if (key == "SeparateLogfilePerThread" && value != "0") {
      echo.push_back("separate logfile per thread.");
    } else if (key == "CompressLogfile" && (value == "1" || value == "2")) {
      echo.push_back("compress log file");
      echo.push_back("index file = ");  // + the log directory of that moment
      if (value == "2") echo.push_back("compact records in compressed blocks.");
    } else if (key == "RecordThreadID" && value == "1") {
      echo.push_back("record thread ID.");
    } else if (key == "RecordMethodCallCount" && value == "1") {
      echo.push_back("record method call count.");
    } else if (key == "FilterMode" && (value == "0" || value == "1")) {
      echo.push_back(value == "1" ? "recorde only filtered methods." : "ignore filtered methods.");
    } else if (key == "ReceiverTags" && (value == "0" || value == "2")) {
      echo.push_back(value == "0" ? "record no receiver tags." : "record receiver tags of logged calls only.");
    } else if (key == "RecordCallerLocation" && (value == "1" || value == "2")) {
      echo.push_back(value == "1" ? "record caller instruction bytecode number."
                                  : "record caller instruction soucecode line number.");
    }
  }
  return echo;
}

// Echo lines of the known kinds, the prompt removed. Messages of keys this
// fuzzer does not model are left out of the comparison.
std::vector<std::string> knownEcho(const std::string& output) {
  static const char* const kinds[] = {"output logfile in ",
                                      "logging start from method call of ",
                                      "filtering class ",
                                      "filtering package ",
                                      "filtering method ",
                                      "separate logfile per thread.",
                                      "compress log file",
                                      "index file = ",
                                      "compact records in compressed blocks.",
                                      "record thread ID.",
                                      "record method call count.",
                                      "recorde only filtered methods.",
                                      "ignore filtered methods.",
                                      "record caller instruction ", "record no receiver tags.",
                                      "record receiver tags of logged calls only."};
  std::vector<std::string> echo;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("profiler> ", 0) != 0) fail("echo line without the prompt: " + line);
    line.erase(0, 10);
    for (const char* kind : kinds) {
      if (line.rfind(kind, 0) == 0) {
        // The index file's name depends on earlier inputs; its prefix is enough.
        echo.push_back(line.rfind("index file = ", 0) == 0 ? "index file = " : line);
        break;
      }
    }
  }
  return echo;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // Filter lines add patterns to process-wide stores that live as long as the
  // agent: to libFuzzer every such input looks like a leak and costs a full
  // leak scan. Reachable memory is no leak; the check at exit still runs.
  static std::vector<char*> arguments(*argv, *argv + *argc);
  static char noLeakScans[] = "-detect_leaks=0";
  arguments.insert(arguments.begin() + 1, noLeakScans);
  arguments.push_back(nullptr);
  *argc = static_cast<int>(arguments.size()) - 1;
  *argv = arguments.data();

  // In memory where there is such a file system: a file is written and read
  // for every input.
  std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  pattern += "/kolvaprof-settings-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("no temporary directory");
  tempRoot = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(tempRoot, ignored);
  });
  workDir = tempRoot + "/a/b";
  std::error_code error;
  std::filesystem::create_directories(workDir, error);
  if (error) fail("cannot make " + workDir);
  settingsPath = workDir + "/fuzz.ini";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static std::unique_ptr<TestAgent> agent;
  static int inputs = 0;
  std::ostringstream console;
  std::streambuf* const standardOutput = std::cout.rdbuf(console.rdbuf());
  if (!agent || ++inputs % kInputsPerAgent == 0) {
    agent.reset();
    agent = std::make_unique<TestAgent>();
  }
  console.str("");

  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& c : text)
    if (c == '/') c = '_';
  {
    std::ofstream file(settingsPath, std::ios::binary | std::ios::trunc);
    file << text;
  }
  // Only while the settings are read: libFuzzer's own paths may be relative.
  const std::filesystem::path startDir = std::filesystem::current_path();
  if (chdir(workDir.c_str()) != 0) fail("cannot enter " + workDir);
  const kolvaprof::Settings read = kolvaprof::readSettingsFile(settingsPath, agent->startTimeStamp());
  agent->configure(read);
  std::filesystem::current_path(startDir);
  std::cout.rdbuf(standardOutput);

  if (knownEcho(console.str()) != expectedEcho(text, agent->startTimeStamp())) {
    fail("echo differs from the lines of the file:\n" + console.str());
  }
  const kolvaprof::LoggingOptions& options = read.options;
  if (options.logDirectory.empty() || options.logDirectory.back() != '/') fail("log directory without '/'");
  if (options.recordCallerLocation < 0 || options.recordCallerLocation > 2)
    fail("caller location out of range");
  if (options.compressLogfile != read.index.has_value()) fail("index file and CompressLogfile disagree");
  return 0;
}
