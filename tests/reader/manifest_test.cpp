// run.json: the reader takes the record layout from it, says so, falls back
// to detection when it is damaged, and check reports a run that did not end
// cleanly.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/run_manifest.h"
#include "format/thread_block.h"
#include "reader/reader_fixture.h"

namespace kolvaprof::reader::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const RecordLayout kThreads{false, true, false};

std::string manifest(RecordLayout layout, bool complete) {
  RunManifest m;
  m.agentVersion = "1.5.1";
  m.engine = "events";
  m.layout = layout;
  m.startStamp = "20261209143518";
  m.timeBase = "none";
  m.complete = complete;
  if (complete) m.end = RunManifest::End{6, 2, 100, 2, {}};
  return writeManifest(m);
}

struct ManifestCase {
  const char* name;
  std::string manifest;  // none when empty
  const char* command;
  int status;
  std::vector<std::string> out;
  std::vector<std::string> err;
  std::vector<std::string> absent;  // in neither
};

class RunManifests : public ::testing::TestWithParam<ManifestCase> {};

// Two virtual threads' blocks of 16-byte records with thread numbers.
TEST_P(RunManifests, DecideTheLayoutOrSayWhyNot) {
  const ManifestCase& c = GetParam();
  ScratchDir scratch;
  scratch.write("run/Index.dat",
                "Thread 1=\"vt-1\"\nMethod 1=void a.B.c(){\nThread 2=\"vt-2\"\nMethod 2=void a.B.d(){\n");
  const std::string first = records(kThreads, {{1, 0, 0, 1, 1}, {0, 0, 0, 1, 1}});
  const std::string second = records(kThreads, {{2, 0, 0, 1, 2}, {1, 0, 0, 2, 2}, {0, 0, 0, 2, 2}, {0, 0, 0, 1, 2}});
  scratch.write("run/VirtualThreads.vlog", makeThreadBlockHeader(1, "vt-1", first.size(), true) + first +
                                               makeThreadBlockHeader(2, "vt-2", second.size(), true) + second);
  if (!c.manifest.empty()) scratch.write("run/run.json", c.manifest);
  const CliResult result = runReader({c.command, scratch.path() + "/run"});
  SCOPED_TRACE(result.out + result.err);
  EXPECT_EQ(result.status, c.status);
  for (const std::string& text : c.out) EXPECT_THAT(result.out, HasSubstr(text));
  for (const std::string& text : c.err) EXPECT_THAT(result.err, HasSubstr(text));
  for (const std::string& text : c.absent) EXPECT_THAT(result.out + result.err, Not(HasSubstr(text)));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunManifests,
    ::testing::Values(
        // Without one, the blocks' sizes and the records tell.
        ManifestCase{"NoneIsDetectedFromTheBlocks", "", "summary", 0, {"calls: 3 of 2 methods on 2 threads"}, {},
                     {"run.json", "cannot tell"}},
        ManifestCase{"SummaryTakesTheLayout", manifest(kThreads, true), "summary", 0,
                     {"calls: 3 of 2 methods on 2 threads"},
                     {"kolvaprof-read: record layout from run.json: 16-byte records (thread numbers)\n"},
                     {"damaged"}},
        ManifestCase{"CheckTakesTheLayout", manifest(kThreads, true), "check", 0,
                     {"binary logs, 16-byte records (thread numbers), as run.json says\n", "result: clean"},
                     {},
                     {"did not end cleanly"}},
        ManifestCase{"CheckSaysTheRunWasCut", manifest(kThreads, false), "check", 0,
                     {"run.json: the run did not end cleanly (complete: false)", "result: clean"}, {}, {}},
        // A wrong layout in run.json is not second-guessed: the damage shows.
        ManifestCase{"WrongLayoutShowsAsDamage", manifest({true, true, false}, true), "check", 1,
                     {"20-byte records (call numbers, thread numbers), as run.json says", "result: damaged"}, {}, {}},
        ManifestCase{"DamagedFallsBackToDetection", "{\"formatVersion\": 1, \"engi", "check", 0,
                     {"note: run.json cannot be read (not JSON", "16-byte records (thread numbers)\n",
                     "result: clean"}, {}, {"as run.json says"}},
        ManifestCase{"DamagedIsNamed", "{\"formatVersion\": 1, \"engi", "summary", 0,
                     {}, {"kolvaprof-read: run.json cannot be read (not JSON"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Killed before any buffer filled: nothing to read, and the reason given.
TEST(RunManifestsOfKilledRuns, SayWhyThereIsNothingToRead) {
  ScratchDir scratch;
  scratch.write("run/Index.dat", "");
  scratch.write("run/run.json", manifest(kThreads, false));
  const CliResult result = runReader({"check", scratch.path() + "/run"});
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.err, HasSubstr("run.json says the run did not end cleanly (complete: false)"));
}

}  // namespace
}  // namespace kolvaprof::reader::test
