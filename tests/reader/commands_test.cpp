// kolvaprof-read on one small two-thread run, written once as binary records
// with Index.dat and once as text: both must give the same outputs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <fstream>
#include <sstream>

#include "format/index_line.h"
#include "format/name_escape.h"
#include "format/text_line.h"
#include "format/thread_block.h"
#include "reader/reader_fixture.h"

namespace kolvaprof::reader::test {
namespace {

using ::testing::HasSubstr;

const char kIndex[] =
    "Thread 0=\"main\"\n"
    "Method 1=void .Main.main(java.lang.String[]){\n"
    "Method 2=void org.demo.Shop.<init>(){\n"
    "Method 3=boolean org.demo.Shop.buy(int,java.lang.String[]){\n"
    "Method 4=int org.demo.Cart$Line.add(int){\n"
    "Thread 1=\"clerk\"\n"
    "Method 5=void org.demo.Clerk.run(){\n";

// 20-byte records: method, tag, call number, depth, thread. The clerk's run()
// is still open at the end, as when the VM is killed.
const RecordLayout kFull{true, true};
const std::string kMainRecords = records(kFull, {{1, 0, 1, 1, 0}, {2, 5, 2, 2, 0}, {0, 0, 0, 2, 0}, {3, 5, 3, 2, 0},
                                                 {4, 7, 4, 3, 0}, {0, 0, 0, 3, 0}, {0, 0, 0, 2, 0}, {0, 0, 0, 1, 0}});
const std::string kClerkRecords = records(kFull, {{5, 9, 5, 1, 1}, {4, 7, 6, 2, 1}, {0, 0, 0, 2, 1}});

const char kMainText[] =
    "@thread 0 = \"main\"\n"
    "@0 1 void .Main(0).main(java.lang.String[]){\n"
    "@0 2 void org.demo.Shop(5).<init>(){\n"
    "@0 }\n"
    "@0 3 boolean org.demo.Shop(5).buy(int,java.lang.String[]){\n"
    "@0 4 int org.demo.Cart$Line(7).add(int){\n"
    "@0 }\n"
    "@0 }\n"
    "@0 }\n";
const char kClerkText[] =
    "@thread 1 = \"clerk\"\n"
    "@1 5 void org.demo.Clerk(9).run(){\n"
    "@1 6 int org.demo.Cart$Line(7).add(int){\n"
    "@1 }\n";

const char kCollapsed[] =
    "Main.main(java.lang.String[]) 1\n"
    "Main.main(java.lang.String[]);org.demo.Shop.<init>() 1\n"
    "Main.main(java.lang.String[]);org.demo.Shop.buy(int,java.lang.String[]) 1\n"
    "Main.main(java.lang.String[]);org.demo.Shop.buy(int,java.lang.String[]);org.demo.Cart$Line.add(int) 1\n"
    "org.demo.Clerk.run() 1\n"
    "org.demo.Clerk.run();org.demo.Cart$Line.add(int) 1\n";

// Files are read in name order, so the clerk comes first; frames are
// numbered in order of first sight.
const std::string kSpeedscope =
    std::string("{\"$schema\":\"https://www.speedscope.app/file-format-schema.json\",\"name\":\"run\","
                "\"exporter\":\"kolvaprof-read ") + KOLVAPROF_VERSION + "\",\"activeProfileIndex\":0,\"profiles\":["
    "{\"type\":\"evented\",\"name\":\"clerk\",\"unit\":\"none\",\"startValue\":0,\"events\":["
    "{\"type\":\"O\",\"frame\":0,\"at\":0},{\"type\":\"O\",\"frame\":1,\"at\":1},"
    "{\"type\":\"C\",\"frame\":1,\"at\":2},{\"type\":\"C\",\"frame\":0,\"at\":3}],\"endValue\":4},"
    "{\"type\":\"evented\",\"name\":\"main\",\"unit\":\"none\",\"startValue\":0,\"events\":["
    "{\"type\":\"O\",\"frame\":2,\"at\":0},{\"type\":\"O\",\"frame\":3,\"at\":1},"
    "{\"type\":\"C\",\"frame\":3,\"at\":2},{\"type\":\"O\",\"frame\":4,\"at\":3},"
    "{\"type\":\"O\",\"frame\":1,\"at\":4},{\"type\":\"C\",\"frame\":1,\"at\":5},"
    "{\"type\":\"C\",\"frame\":4,\"at\":6},{\"type\":\"C\",\"frame\":2,\"at\":7}],\"endValue\":8}],"
    "\"shared\":{\"frames\":[{\"name\":\"org.demo.Clerk.run()\"},{\"name\":\"org.demo.Cart$Line.add(int)\"},"
    "{\"name\":\"Main.main(java.lang.String[])\"},{\"name\":\"org.demo.Shop.<init>()\"},"
    "{\"name\":\"org.demo.Shop.buy(int,java.lang.String[])\"}]}}\n";

const char kChrome[] =
    "{\"displayTimeUnit\":\"ns\",\"traceEvents\":["
    "{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":1,\"args\":{\"name\":\"kolvaprof run\"}},"
    "{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":1,\"tid\":1,\"args\":{\"name\":\"clerk\"}},"
    "{\"name\":\"org.demo.Clerk.run()\",\"ph\":\"B\",\"ts\":0,\"pid\":1,\"tid\":1},"
    "{\"name\":\"org.demo.Cart$Line.add(int)\",\"ph\":\"B\",\"ts\":1,\"pid\":1,\"tid\":1},"
    "{\"name\":\"org.demo.Cart$Line.add(int)\",\"ph\":\"E\",\"ts\":2,\"pid\":1,\"tid\":1},"
    "{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":1,\"tid\":2,\"args\":{\"name\":\"main\"}},"
    "{\"name\":\"Main.main(java.lang.String[])\",\"ph\":\"B\",\"ts\":3,\"pid\":1,\"tid\":2},"
    "{\"name\":\"org.demo.Shop.<init>()\",\"ph\":\"B\",\"ts\":4,\"pid\":1,\"tid\":2},"
    "{\"name\":\"org.demo.Shop.<init>()\",\"ph\":\"E\",\"ts\":5,\"pid\":1,\"tid\":2},"
    "{\"name\":\"org.demo.Shop.buy(int,java.lang.String[])\",\"ph\":\"B\",\"ts\":6,\"pid\":1,\"tid\":2},"
    "{\"name\":\"org.demo.Cart$Line.add(int)\",\"ph\":\"B\",\"ts\":7,\"pid\":1,\"tid\":2},"
    "{\"name\":\"org.demo.Cart$Line.add(int)\",\"ph\":\"E\",\"ts\":8,\"pid\":1,\"tid\":2},"
    "{\"name\":\"org.demo.Shop.buy(int,java.lang.String[])\",\"ph\":\"E\",\"ts\":9,\"pid\":1,\"tid\":2},"
    "{\"name\":\"Main.main(java.lang.String[])\",\"ph\":\"E\",\"ts\":10,\"pid\":1,\"tid\":2},"
    "{\"name\":\"org.demo.Clerk.run()\",\"ph\":\"E\",\"ts\":11,\"pid\":1,\"tid\":1}]}\n";

class Commands : public ::testing::TestWithParam<bool> {
 protected:
  Commands() {
    if (GetParam()) {
      scratch.write("run/Index.dat", kIndex);
      scratch.write("run/main.log", kMainRecords);
      scratch.write("run/clerk.log", kClerkRecords);
    } else {
      scratch.write("run/main.log", kMainText);
      scratch.write("run/clerk.log", kClerkText);
    }
  }
  CliResult read(const std::string& command) { return runReader({command, run}); }

  ScratchDir scratch;
  const std::string run = scratch.path() + "/run";
};

TEST_P(Commands, TextGivesTheAgentsLinesPerFile) {
  const CliResult result = read("text");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, std::string("== clerk.log\n") + kClerkText + "== main.log\n" + kMainText);
  EXPECT_EQ(result.err, "");

  EXPECT_EQ(runReader({"text", run, "-o", scratch.path() + "/text"}).status, 0);
  std::ostringstream written;
  written << std::ifstream(scratch.path() + "/text/main.log").rdbuf();
  EXPECT_EQ(written.str(), kMainText);
}

TEST_P(Commands, CollapsedCountsEachCallAtItsOwnStack) {
  const CliResult result = read("collapsed");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kCollapsed);
}

TEST_P(Commands, SpeedscopeAndChromeGoldenAndWellFormed) {
  const CliResult speedscope = read("speedscope");
  EXPECT_EQ(speedscope.status, 0);
  EXPECT_EQ(speedscope.out, kSpeedscope);
  const CliResult chrome = read("chrome");
  EXPECT_EQ(chrome.status, 0);
  EXPECT_EQ(chrome.out, kChrome);

  rapidjson::Document profile;
  ASSERT_FALSE(profile.Parse(speedscope.out.c_str()).HasParseError());
  const auto& frames = profile["shared"]["frames"];
  for (const auto& p : profile["profiles"].GetArray()) {
    std::vector<unsigned> open;
    std::uint64_t at = 0;
    for (const auto& event : p["events"].GetArray()) {
      ASSERT_LT(event["frame"].GetUint(), frames.Size());
      ASSERT_GE(event["at"].GetUint64(), at);
      at = event["at"].GetUint64();
      if (event["type"] == "O") {
        open.push_back(event["frame"].GetUint());
      } else {
        ASSERT_FALSE(open.empty());
        ASSERT_EQ(open.back(), event["frame"].GetUint());
        open.pop_back();
      }
    }
    EXPECT_TRUE(open.empty()) << "every call closed";
    EXPECT_EQ(p["endValue"].GetUint64(), at + 1);
  }

  rapidjson::Document trace;
  ASSERT_FALSE(trace.Parse(chrome.out.c_str()).HasParseError());
  std::int64_t ts = -1;
  for (const auto& event : trace["traceEvents"].GetArray()) {
    if (event["ph"] == "M") continue;
    EXPECT_GT(event["ts"].GetInt64(), ts) << "ts strictly rising";
    ts = event["ts"].GetInt64();
  }
}

TEST_P(Commands, CheckAndSummaryCountOpenCallsWithoutCallingThemDamage) {
  const CliResult check = read("check");
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_THAT(check.out, HasSubstr("calls still open at the end: 1 (not damage"));
  EXPECT_THAT(check.out, HasSubstr("  clerk: 1\n"));
  EXPECT_THAT(check.out, HasSubstr(std::string("clerk.log: ") + (GetParam() ? "60" : "101") + " bytes, 2 calls, 1 exit,"));
  EXPECT_THAT(check.out, HasSubstr("result: clean\n"));

  const CliResult summary = runReader({"summary", run, "--top", "1"});
  EXPECT_EQ(summary.status, 0);
  EXPECT_THAT(summary.out, HasSubstr("calls: 6 of 5 methods on 2 threads; maximum depth 3 (main)\n"));
  EXPECT_THAT(summary.out, HasSubstr("top 1 method by calls:\n"
                                     "       calls   share  method\n"
                                     "           2   33.3%  org.demo.Cart$Line.add(int)\n"));
}

// The options that keep a large run's outputs small, and the summary of a
// run of many threads: each case's output holds its pieces, or (for
// collapsed) is exactly the first; `absent` must not be in it.
TEST_P(Commands, LimitsKeepOutputsSmall) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> expected;
    std::string absent;
  };
  const Case cases[] = {
      // Calls below the cut count at their ancestor there, so totals stay.
      {{"collapsed", "--max-depth", "2"},
       {"Main.main(java.lang.String[]) 1\n"
        "Main.main(java.lang.String[]);org.demo.Shop.<init>() 1\n"
        "Main.main(java.lang.String[]);org.demo.Shop.buy(int,java.lang.String[]) 2\n"
        "org.demo.Clerk.run() 1\n"
        "org.demo.Clerk.run();org.demo.Cart$Line.add(int) 1\n"},
       ""},
      {{"collapsed", "--max-depth", "1", "--by-thread"},
       {"clerk;org.demo.Clerk.run() 2\nmain;Main.main(java.lang.String[]) 4\n"},
       ""},
      // 6 calls: stacks under 20% (1.2 calls) go to their callers.
      {{"collapsed", "--min-share", "20"},
       {"Main.main(java.lang.String[]) 2\n"
        "Main.main(java.lang.String[]);org.demo.Shop.buy(int,java.lang.String[]) 2\n"
        "org.demo.Clerk.run() 2\n"},
       ""},
      {{"flamegraph", "--min-share", "50"}, {"Main.main(java.lang.String[]) \u2014 4 calls (66.67%), 4 at this stack"},
       "org.demo.Shop"},
      {{"chrome", "--max-depth", "1"},
       {"\"name\":\"org.demo.Clerk.run()\",\"ph\":\"B\",\"ts\":0,",
        "\"name\":\"Main.main(java.lang.String[])\",\"ph\":\"E\",\"ts\":2,",
        "\"name\":\"org.demo.Clerk.run()\",\"ph\":\"E\",\"ts\":3,\"pid\":1,\"tid\":1}]}"},
       "Cart$Line"},
      {{"speedscope", "--max-depth", "1"},
       {"\"events\":[{\"type\":\"O\",\"frame\":0,\"at\":0},{\"type\":\"C\",\"frame\":0,\"at\":1}],\"endValue\":2}",
        "\"events\":[{\"type\":\"O\",\"frame\":2,\"at\":0},{\"type\":\"C\",\"frame\":2,\"at\":1}],\"endValue\":2}"},
       ""},
      {{"summary", "--top", "1"},
       {"\ntop 1 of 2 threads by calls:\n       calls max depth   open  thread\n"
        "           4         3      0  main (thread 0)\n"
        "and 1 more thread (--all-threads lists every thread)\n"},
       "clerk (thread 1)"},
      {{"summary", "--top", "1", "--all-threads"},
       {"\nthreads:\n       calls max depth   open  thread\n"
        "           2         2      1  clerk (thread 1)\n           4         3      0  main (thread 0)\n"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<std::string> command{c.args.front(), run};
    command.insert(command.end(), c.args.begin() + 1, c.args.end());
    const CliResult result = runReader(command);
    EXPECT_EQ(result.status, 0) << result.err;
    if (c.args.front() == "collapsed") EXPECT_EQ(result.out, c.expected.front());
    else for (const std::string& piece : c.expected) EXPECT_THAT(result.out, HasSubstr(piece));
    if (!c.absent.empty()) {
      EXPECT_THAT(result.out, ::testing::Not(HasSubstr(c.absent)));
    }
  }
}

TEST_P(Commands, FlamegraphIsOneSelfContainedSvg) {
  const CliResult result = read("flamegraph");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("<?xml", 0), 0u);
  EXPECT_THAT(result.out, HasSubstr("<title>org.demo.Shop.&lt;init&gt;() \u2014 1 call (16.67%), 1 at this stack</title>"));
  EXPECT_THAT(result.out, ::testing::Not(HasSubstr("<script")));
  EXPECT_THAT(result.out, ::testing::EndsWith("</svg>\n"));
}

INSTANTIATE_TEST_SUITE_P(Run, Commands, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Binary" : "Text"; });

// A thread name that would break every line of output it is written into:
// quotes, a backslash, ";", a tab and a line feed that tries to forge a line
// of Index.dat. One call on that one thread, in one file.
const std::string kOddName = "a \"b\"\\;c\td\nThread 0=\"forged";

TEST(OddThreadName, KeepsToItsLineAndComesBackWhole) {
  const MethodText main{"void", "", "Main", "main", ""};
  std::string text = makeThreadHeaderLine(7, kOddName);
  appendTextEntryLine(text, TextEntry{main, {0, true, 7, true, 1, "", std::nullopt}});
  appendTextExitLine(text, true, 7, false, "");
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    ScratchDir scratch;
    const std::string run = scratch.path() + "/run";
    if (binary) {
      scratch.write("run/Index.dat", makeIndexThreadLine(7, kOddName) + makeIndexMethodLine(1, main));
      scratch.write("run/shared.log", records(kFull, {{1, 0, 1, 1, 7}, {0, 0, 0, 1, 7}}));
    } else {
      scratch.write("run/shared.log", text);
    }
    const CliResult check = runReader({"check", run});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(runReader({"text", run}).out, "== shared.log\n" + text);

    const CliResult collapsed = runReader({"collapsed", run, "--by-thread"});
    EXPECT_EQ(collapsed.out, "a \\\"b\\\"\\\\\\x3bc\\td\\nThread 0=\\\"forged;Main.main() 1\n");

    const CliResult summary = runReader({"summary", run});
    EXPECT_THAT(summary.out, HasSubstr(", 1 file, "));
    EXPECT_THAT(summary.out, HasSubstr("calls: 1 of 1 method on 1 thread; maximum depth 1 (" + escapeName(kOddName) +
                                       ")\n"));
    EXPECT_THAT(summary.out, HasSubstr("  " + escapeName(kOddName) + " (thread 7)\n"));

    rapidjson::Document trace;
    ASSERT_FALSE(trace.Parse(runReader({"chrome", run}).out.c_str()).HasParseError());
    EXPECT_EQ(trace["traceEvents"][1]["args"]["name"].GetString(), kOddName);
  }
}

// The same run with times (RecordTime), 1000 ns apart from 1000 in each file;
// the clerk's open call has no duration.
const RecordLayout kTimed{true, true, true};
const std::string kTimedMainText =
    "@thread 0 = \"main\"\n@0 1 +1000 void .Main(0).main(java.lang.String[]){\n"
    "@0 2 +2000 void org.demo.Shop(5).<init>(){\n@0 } +3000\n@0 3 +4000 boolean org.demo.Shop(5).buy(int,java.lang.String[]){\n"
    "@0 4 +5000 int org.demo.Cart$Line(7).add(int){\n@0 } +6000\n@0 } +7000\n@0 } +8000\n";
const std::string kTimedClerkText =
    "@thread 1 = \"clerk\"\n@1 5 +1000 void org.demo.Clerk(9).run(){\n@1 6 +2000 int org.demo.Cart$Line(7).add(int){\n"
    "@1 } +3000\n";

class TimedCommands : public ::testing::TestWithParam<bool> {
 protected:
  TimedCommands() {
    if (GetParam()) {
      scratch.write("run/Index.dat", kIndex);
      scratch.write("run/main.log", records(kTimed, {{1, 0, 1, 1, 0}, {2, 5, 2, 2, 0}, {0, 0, 0, 2, 0}, {3, 5, 3, 2, 0},
                                                     {4, 7, 4, 3, 0}, {0, 0, 0, 3, 0}, {0, 0, 0, 2, 0}, {0, 0, 0, 1, 0}}));
      scratch.write("run/clerk.log", records(kTimed, {{5, 9, 5, 1, 1}, {4, 7, 6, 2, 1}, {0, 0, 0, 2, 1}}));
    } else {
      scratch.write("run/main.log", kTimedMainText);
      scratch.write("run/clerk.log", kTimedClerkText);
    }
  }
  ScratchDir scratch;
  const std::string run = scratch.path() + "/run";
};

TEST_P(TimedCommands, EveryViewUsesTheTimes) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"text"}, {"== clerk.log\n" + kTimedClerkText + "== main.log\n" + kTimedMainText}},
      {{"collapsed", "--self-time"},
       {"Main.main(java.lang.String[]) 3000\n"
        "Main.main(java.lang.String[]);org.demo.Shop.<init>() 1000\n"
        "Main.main(java.lang.String[]);org.demo.Shop.buy(int,java.lang.String[]) 2000\n"
        "Main.main(java.lang.String[]);org.demo.Shop.buy(int,java.lang.String[]);org.demo.Cart$Line.add(int) 1000\n"
        "org.demo.Clerk.run();org.demo.Cart$Line.add(int) 1000\n"}},
      {{"flamegraph", "--self-time"}, {"Self time in run", "0.007 ms (87.50%), 0.003 ms at this stack"}},
      // The clerk's total runs to its last record; its outermost call is
      // still open, so all of it counts as the thread's own time.
      {{"summary"},
       {"       0.002          0.002  clerk", "       0.007          0.000  main",
        "      total ms        self ms  method\n         0.007          0.003  Main.main(java.lang.String[])\n"
        "         0.003          0.002  org.demo.Shop.buy(int,java.lang.String[])\n"
        "         0.002          0.002  org.demo.Cart$Line.add(int)\n"}},
      // Each profile starts at its thread's first record, which its name shows.
      {{"speedscope"},
       {"\"name\":\"clerk (from 0.001000 ms)\",\"unit\":\"nanoseconds\",\"startValue\":1000,\"events\":["
        "{\"type\":\"O\",\"frame\":0,\"at\":1000}",
        "{\"type\":\"C\",\"frame\":0,\"at\":3000}],\"endValue\":3000}"}},
      {{"speedscope", "--common-start"},
       {"\"name\":\"clerk\",\"unit\":\"nanoseconds\",\"startValue\":0,\"events\":[{\"type\":\"O\",\"frame\":0,\"at\":1000}"}},
      // One stream in time order, ties in file order, each thread's header
      // before its first line.
      {{"text", "--merge"},
       {"@thread 1 = \"clerk\"\n@1 5 +1000 void org.demo.Clerk(9).run(){\n"
        "@thread 0 = \"main\"\n@0 1 +1000 void .Main(0).main(java.lang.String[]){\n"
        "@1 6 +2000 int org.demo.Cart$Line(7).add(int){\n@0 2 +2000 void org.demo.Shop(5).<init>(){\n"
        "@1 } +3000\n@0 } +3000\n@0 3 +4000 boolean org.demo.Shop(5).buy(int,java.lang.String[]){\n"
        "@0 4 +5000 int org.demo.Cart$Line(7).add(int){\n@0 } +6000\n@0 } +7000\n@0 } +8000\n"}},
      {{"chrome"}, {"\"ph\":\"B\",\"ts\":1.0,", "\"ph\":\"E\",\"ts\":8.0,", "\"ph\":\"E\",\"ts\":3.0,\"pid\":1,\"tid\":1}]}"}},
  };
  for (const auto& [args, expected] : cases) {
    SCOPED_TRACE(args.front());
    std::vector<std::string> command{args.front(), run};
    command.insert(command.end(), args.begin() + 1, args.end());
    const CliResult result = runReader(command);
    EXPECT_EQ(result.status, 0) << result.err;
    if (args.front() == "text" || args.front() == "collapsed") EXPECT_EQ(result.out, expected.front());
    else for (const std::string& piece : expected) EXPECT_THAT(result.out, HasSubstr(piece));
  }
  // Logs without times have nothing to weigh by.
  ScratchDir untimed;
  untimed.write("run/main.log", kMainText);
  const CliResult refused = runReader({"collapsed", untimed.path() + "/run", "--self-time"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_THAT(refused.err, HasSubstr("no times to weigh by; record them with RecordTime=1"));
  const CliResult unmerged = runReader({"text", untimed.path() + "/run", "--merge"});
  EXPECT_EQ(unmerged.status, 2);
  EXPECT_THAT(unmerged.err, HasSubstr("no times to merge by; record them with RecordTime=1"));
}

INSTANTIATE_TEST_SUITE_P(Logs, TimedCommands, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Binary" : "Text"; });

// text --merge over the blocks of virtual threads, which interleave in their
// file out of time order: each thread's records come at their times, its
// blocks opened when their first record's time comes.
TEST_P(TimedCommands, MergeTakesVirtualThreadsInTimeOrder) {
  ScratchDir blocks;
  std::string expected;
  if (GetParam()) {
    // A microsecond apart from 1000 in each list; equal times go in file
    // order, and VirtualThreads.vlog comes before main.log.
    const std::string all = records(kTimed, {{5, 9, 5, 1, 1}, {0, 0, 0, 1, 1}, {1, 0, 9, 1, 1}, {0, 0, 0, 1, 1}});
    const std::string first = all.substr(0, kTimed.bytes()), rest = all.substr(kTimed.bytes());
    const std::string other = records(kTimed, {{4, 7, 6, 1, 1}, {0, 0, 0, 1, 1}});
    blocks.write("run/Index.dat", kIndex);
    blocks.write("run/main.log", records(kTimed, {{1, 0, 1, 1, 0}, {0, 0, 0, 1, 0}}));
    blocks.write("run/VirtualThreads.vlog", makeThreadBlockHeader(7, "vt-b", other.size(), true) + other +
                                                makeThreadBlockHeader(6, "vt-a", first.size()) + first +
                                                makeThreadBlockHeader(6, "vt-a", rest.size(), true) + rest);
    expected =
        "@thread 7 = \"vt-b\"\n@7 6 +1000 int org.demo.Cart$Line(7).add(int){\n"
        "@thread 6 = \"vt-a\"\n@6 5 +1000 void org.demo.Clerk(9).run(){\n"
        "@thread 0 = \"main\"\n@0 1 +1000 void .Main(0).main(java.lang.String[]){\n"
        "@7 } +2000\n@6 } +2000\n@0 } +2000\n@6 9 +3000 void .Main(0).main(java.lang.String[]){\n@6 } +4000\n";
  } else {
    blocks.write("run/main.log", "+1000 void .Main(0).main(){\n} +5000\n");
    const std::string a1 = "+3000 void a.B(0).c(){\n", a2 = "} +4000\n", b = "+2000 void a.B(0).d(){\n} +2500\n";
    blocks.write("run/VirtualThreads.vlog", makeThreadBlockHeader(6, "vt-a", a1.size()) + a1 +
                                                makeThreadBlockHeader(7, "vt-b", b.size(), true) + b +
                                                makeThreadBlockHeader(6, "vt-a", a2.size(), true) + a2);
    expected =
        "[main] +1000 void .Main(0).main(){\n"
        "@thread 7 = \"vt-b\"\n@7 +2000 void a.B(0).d(){\n@7 } +2500\n"
        "@thread 6 = \"vt-a\"\n@6 +3000 void a.B(0).c(){\n@6 } +4000\n[main] } +5000\n";
  }
  const CliResult merged = runReader({"text", blocks.path() + "/run", "--merge"});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.out, expected);
}

// Damaged runs: each problem is named with its place, the rest still read.
struct Damage {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // written over the binary run
  std::vector<std::string> options;
  int status;
  std::vector<std::string> expected;  // in the check report, or in stderr when status is 2
};

class DamagedRun : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedRun, IsReportedWithCountsAndPlaces) {
  ScratchDir scratch;
  const Damage& damage = GetParam();
  const bool text = damage.files.size() == 1 && damage.files.front().first == "main.log" &&
                    damage.files.front().second.find('{') != std::string::npos;
  if (!damage.files.empty() && !text) {
    scratch.write("run/Index.dat", kIndex);
    scratch.write("run/main.log", kMainRecords);
    scratch.write("run/clerk.log", kClerkRecords);
  }
  std::filesystem::create_directories(scratch.path() + "/run");
  for (const auto& [name, content] : damage.files) {
    if (content == "-") std::filesystem::remove(scratch.path() + "/run/" + name);
    else scratch.write("run/" + name, content);
  }
  std::vector<std::string> args{"check", scratch.path() + "/run"};
  args.insert(args.end(), damage.options.begin(), damage.options.end());
  const CliResult result = runReader(args);
  EXPECT_EQ(result.status, damage.status) << result.out << result.err;
  for (const std::string& expected : damage.expected)
    EXPECT_THAT(damage.status == 2 ? result.err : result.out, HasSubstr(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DamagedRun,
    ::testing::Values(
        Damage{"TruncatedRecord", {{"main.log", kMainRecords + std::string(8, '\0')}}, {}, 1,
               {"truncated record: 1\n", "main.log record 8 (byte 160): 8 bytes left over",
                "result: damaged"}},
        Damage{"UnknownMethod", {{"clerk.log", records(kFull, {{5, 9, 5, 1, 1}, {99, 7, 6, 2, 1}, {0, 0, 0, 2, 1}})}},
               {}, 1,
               {"unknown method number: 1\n", "clerk.log record 1 (byte 20): method 99 has no Method line"}},
        Damage{"UnbalancedExit", {{"main.log", kMainRecords + records(kFull, {{0, 0, 0, 1, 0}})}}, {}, 1,
               {"unbalanced exit: 1\n", "main.log record 8 (byte 160): exit with no call open",
                "main.log: 180 bytes, 4 calls, 4 exits"}},
        Damage{"MissingIndex", {{"Index.dat", "-"}}, {}, 1, {"missing Index.dat: 1", "Index.dat: missing"}},
        Damage{"TimeGoingBack", {{"main.log", "+5000 void a.B(0).c(){\n+6000 void a.B(0).d(){\n} +4000\n} +7000\n"}},
               {}, 1, {"time going back: 1\n", "main.log:3: time 4000 ns after 6000 ns"}},
        Damage{"GarbageFile", {{"junk.log", std::string(50, '\x7f') + std::string(35, '\0')}},
               {"--call-numbers", "--thread-ids"}, 1,
               {"junk.log record 0 (byte 0)", "truncated record", "main.log: 160 bytes, 4 calls, 4 exits"}},
        Damage{"GarbageOnly", {{"main.log", std::string(64, '\x7f') + std::string(16, '\0')}, {"clerk.log", "-"}},
               {}, 2, {"cannot tell the record layout", "--no-call-numbers --no-thread-ids"}},
        Damage{"EmptyDirectory", {}, {}, 2, {"no log files (*.log) in"}},
        // Runs from before names were escaped: a line feed in a name, and
        // a name cut short; both threads keep their numbers.
        Damage{"ThreadNamesOverTwoLines",
               {{"Index.dat",
                 "Thread 0=\"ma\nin\"\nMethod 1=void .Main.main(java.lang.String[]){\n"
                 "Method 2=void org.demo.Shop.<init>(){\nMethod 3=boolean org.demo.Shop.buy(int,java.lang.String[]){\n"
                 "Method 4=int org.demo.Cart$Line.add(int){\nThread 1=\"cl\nMethod 5=void org.demo.Clerk.run(){\n"}},
               {}, 1,
               {"bad Index.dat line: 2\n", "Index.dat:1: the name of thread 0 runs over 2 lines",
                "Index.dat:7: the name of thread 1 has no closing quote", "Index.dat: 5 methods, 2 threads",
                "main.log: 160 bytes, 4 calls, 4 exits", "clerk.log: 60 bytes"}},
        // A partial index that lost a thread must not count against the
        // layout with thread numbers.
        Damage{"ThreadLineMissing", {{"Index.dat", std::string(kIndex).substr(16)}}, {}, 1,
               {"note: no record layout fits every file exactly", "20-byte records (call numbers, thread numbers)",
                "main.log record 0 (byte 0): thread 0 has no Thread line", "main.log: 160 bytes, 4 calls, 4 exits"}},
        Damage{"StrayTextLine", {{"main.log", "void .Main(0).main(){\nnot a record\n}\n} extra\n"}}, {}, 1,
               {"stray line: 1\n", "main.log:2: \"not a record\"", "unbalanced exit: 1\n", "main.log:4"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Virtual threads: a thread whose last block says it ended must have closed
// its calls; one without a last block was alive when the run ended.
struct ThreadEnd {
  const char* name;
  std::string blocks;
  int status;
  std::vector<std::string> expected;
  std::vector<std::string> absent;
};

class VirtualThreadEnds : public ::testing::TestWithParam<ThreadEnd> {};

TEST_P(VirtualThreadEnds, OpenCallsOfAnEndedThreadAreDamage) {
  ScratchDir scratch;
  scratch.write("run/main.log", "void .Main(0).main(){\n}\n");
  scratch.write("run/VirtualThreads.vlog", GetParam().blocks);
  const CliResult check = runReader({"check", scratch.path() + "/run"});
  EXPECT_EQ(check.status, GetParam().status) << check.out << check.err;
  for (const std::string& expected : GetParam().expected) EXPECT_THAT(check.out, HasSubstr(expected));
  for (const std::string& absent : GetParam().absent) EXPECT_THAT(check.out, ::testing::Not(HasSubstr(absent)));
}

const std::string kTwoOpen = "void a.B(0).c(){\nvoid a.B(0).d(){\n";
const std::string kOneClosed = "}\n";

INSTANTIATE_TEST_SUITE_P(
    Blocks, VirtualThreadEnds,
    ::testing::Values(
        ThreadEnd{"EndedWithCallsOpen",
                  makeThreadBlockHeader(5, "vt-1", kTwoOpen.size()) + kTwoOpen +
                      makeThreadBlockHeader(5, "vt-1", kOneClosed.size(), true) + kOneClosed,
                  1,
                  {"calls still open at the end: none\n", "calls left open by threads that ended: 1\n  vt-1: 1\n",
                   "calls left open by a thread that ended: 1\n",
                   "VirtualThreads.vlog byte 63: vt-1 ended with 1 call open", "result: damaged"},
                  {}},
        ThreadEnd{"AliveAtTheEnd", makeThreadBlockHeader(5, "vt-1", kTwoOpen.size()) + kTwoOpen, 0,
                  {"calls still open at the end: 2 (not damage", "  vt-1: 2\n", "result: clean"},
                  {"left open"}},
        // The last block may hold no records; others' blocks come between.
        ThreadEnd{"EndedClosedAmongOthers",
                  makeThreadBlockHeader(5, "vt-1", kTwoOpen.size()) + kTwoOpen +
                      makeThreadBlockHeader(6, "vt-2", kTwoOpen.size()) + kTwoOpen +
                      makeThreadBlockHeader(5, "vt-1", 2 * kOneClosed.size()) + kOneClosed + kOneClosed +
                      makeThreadBlockHeader(5, "vt-1", 0, true) + makeThreadBlockHeader(6, "vt-2", 0, true),
                  1,
                  {"calls still open at the end: none\n", "calls left open by threads that ended: 2\n  vt-2: 2\n",
                   "vt-2 ended with 2 calls open"},
                  {"vt-1 ended"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kolvaprof::reader::test
