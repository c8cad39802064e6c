// Every reader command on the checked-in golden runs (tests/data/golden/<run>/run,
// written by the agent, see tests/integration/golden_agent_test.cpp) gives the
// output checked in beside it in <run>/expected/, byte for byte. The reader
// runs in <run>/ on the relative path "run", so the run's path and name in the
// outputs (check's "run:" line, the titles and profile names) are the same on
// every machine.
//
// After a deliberate change of an output:
//   KOLVAPROF_UPDATE_GOLDEN=1 build/tests/reader_tests --gtest_filter='*GoldenRuns*'
// rewrites the expected files instead of comparing; review them with git diff.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "reader/reader_fixture.h"

namespace kolvaprof::reader::test {
namespace {

namespace fs = std::filesystem;

struct Command {
  const char* expected;  // file name in <run>/expected/
  std::vector<std::string> args;
};

const Command kCommands[] = {
    {"check.txt", {"check"}},
    {"summary.txt", {"summary"}},
    {"text.txt", {"text"}},
    {"collapsed.txt", {"collapsed"}},
    {"collapsed-by-thread.txt", {"collapsed", "--by-thread"}},
    {"speedscope.json", {"speedscope"}},
    {"chrome.json", {"chrome"}},
    {"flamegraph.svg", {"flamegraph"}},
};

// The working directory for one scope, restored at its end.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& path) : previous(fs::current_path()) { fs::current_path(path); }
  ~WorkingDirectory() { fs::current_path(previous); }

 private:
  fs::path previous;
};

class GoldenRuns : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenRuns, EveryCommandGivesTheCheckedInOutput) {
  const fs::path golden = fs::path(KOLVAPROF_TEST_DATA) / "golden" / GetParam();
  const bool update = std::getenv("KOLVAPROF_UPDATE_GOLDEN") != nullptr;
  if (update) fs::create_directories(golden / "expected");
  const WorkingDirectory inRun(golden);
  for (const Command& command : kCommands) {
    SCOPED_TRACE(command.expected);
    std::vector<std::string> args{command.args.front(), "run", "--no-progress"};
    args.insert(args.end(), command.args.begin() + 1, command.args.end());
    const CliResult result = runReader(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const fs::path expected = golden / "expected" / command.expected;
    if (update) {
      std::ofstream(expected, std::ios::binary) << result.out;
      continue;
    }
    std::ostringstream checkedIn;
    checkedIn << std::ifstream(expected, std::ios::binary).rdbuf();
    EXPECT_EQ(result.out, checkedIn.str());
  }
}

INSTANTIATE_TEST_SUITE_P(Run, GoldenRuns,
                         ::testing::Values("text-per-thread", "text-shared", "binary", "binary-calls",
                                           "binary-threads", "binary-calls-threads", "compact-calls-threads"),
                         [](const auto& info) {
                           std::string name;  // "TextPerThread" for "text-per-thread"
                           for (const char* c = info.param; *c != '\0'; ++c) {
                             if (*c == '-') continue;
                             const bool first = c == info.param || c[-1] == '-';
                             name.push_back(first ? static_cast<char>(std::toupper(*c)) : *c);
                           }
                           return name;
                         });

}  // namespace
}  // namespace kolvaprof::reader::test
