// RecordTime on a real VM: calls of known length (Thread.sleep) come out of
// the reader with the lengths the program measured itself, in text and
// binary runs, per-thread and shared; times never go back within a thread
// and every call lies inside its caller; calls logged whole at their return
// carry one time.

#include <algorithm>
#include <cstdint>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

// The agent reads its clock in the entry and exit events, inside the
// program's own readings around the call and outside the sleeps within it, so
// a call's time lies between the sleeps' length and the program's figure.
// How far below that figure it lies is the VM's event posting, plus whatever
// a loaded machine's scheduler adds.
constexpr double kToleranceMs = 10.0;
constexpr double kInnerSleepMs = 120.0, kOuterSleepMs = 180.0;
// The two clocks are the same up to the agent's measured counter rate.
constexpr double kClockSlackMs = 0.5;

const char kInner[] = "itest.Timed.inner()";
const char kOuter[] = "itest.Timed.outer()";

struct Measured {
  double outerMs = 0;
  double innerMs = 0;
};

// "timed <thread> <outer ns> <inner ns>" lines of the program, by thread.
std::map<std::string, Measured> measuredByThread(const std::string& out) {
  std::map<std::string, Measured> measured;
  const std::regex line("timed (\\S+) (\\d+) (\\d+)");
  for (const std::string& text : splitLines(out)) {
    std::smatch m;
    if (std::regex_match(text, m, line))
      measured[m[1]] = {std::stod(m[2]) / 1e6, std::stod(m[3]) / 1e6};
  }
  return measured;
}

// One open or close of a call, as a viewer file has it.
struct Event {
  std::string thread;
  bool open;
  std::string frame;
  double ms;
};

// Durations by thread and frame, checking that a thread's times never fall
// and that closes match their opens, so that each callee lies inside its
// caller.
std::map<std::string, std::map<std::string, double>> durations(const std::vector<Event>& events) {
  std::map<std::string, std::vector<std::pair<std::string, double>>> open;
  std::map<std::string, double> last;
  std::map<std::string, std::map<std::string, double>> lengths;
  for (const Event& e : events) {
    EXPECT_GE(e.ms, last[e.thread]) << e.thread << " " << e.frame;
    last[e.thread] = e.ms;
    auto& stack = open[e.thread];
    if (e.open) {
      stack.emplace_back(e.frame, e.ms);
      continue;
    }
    if (stack.empty() || stack.back().first != e.frame) {
      ADD_FAILURE() << "close of " << e.frame << " on " << e.thread << " without its open";
      continue;
    }
    lengths[e.thread][e.frame] += e.ms - stack.back().second;
    stack.pop_back();
  }
  return lengths;
}

// speedscope: one evented profile per thread, frames by index into the
// shared list at the end, "at" in nanoseconds.
std::vector<Event> speedscopeEvents(const std::string& json) {
  EXPECT_NE(json.find("\"unit\":\"nanoseconds\""), std::string::npos);
  std::vector<std::string> frames;
  const std::string shared = json.substr(json.find("\"shared\""));
  const std::regex frame("\\{\"name\":\"([^\"]*)\"\\}");
  for (auto it = std::sregex_iterator(shared.begin(), shared.end(), frame); it != std::sregex_iterator(); ++it)
    frames.push_back((*it)[1]);
  std::vector<Event> events;
  // A profile is named after its thread and the time it starts at.
  const std::regex token("\"type\":\"evented\",\"name\":\"([^\"]*) \\(from [0-9.]+ ms\\)\"|\"type\":\"([OC])\",\"frame\":(\\d+),\"at\":(\\d+)");
  std::string thread;
  for (auto it = std::sregex_iterator(json.begin(), json.end(), token); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    if (m[1].matched) thread = m[1];
    else events.push_back({thread, m[2] == "O", frames.at(std::stoul(m[3])), std::stod(m[4]) / 1e6});
  }
  return events;
}

// Chrome: "B"/"E" events with "ts" in microseconds, tids named by "M" events.
std::vector<Event> chromeEvents(const std::string& json) {
  std::map<std::string, std::string> names;
  const std::regex named("\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":1,\"tid\":(\\d+),\"args\":\\{\"name\":\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), named); it != std::sregex_iterator(); ++it)
    names[(*it)[1]] = (*it)[2];
  std::vector<Event> events;
  const std::regex event("\"name\":\"([^\"]*)\",\"ph\":\"([BE])\",\"ts\":([0-9.eE+]+),\"pid\":1,\"tid\":(\\d+)");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), event); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    events.push_back({names[m[4]], m[2] == "B", m[1], std::stod(m[3]) / 1e3});
  }
  return events;
}

// "<total ms> <self ms>  <method>" rows of the summary's time table.
std::map<std::string, std::pair<double, double>> summaryTimes(const std::string& summary) {
  std::map<std::string, std::pair<double, double>> times;
  const std::string table = summary.substr(summary.find("by total time:"));
  const std::regex row(" *([0-9.]+) +([0-9.]+)  (\\S+)");
  for (const std::string& line : splitLines(table)) {
    std::smatch m;
    if (std::regex_match(line, m, row)) times[m[3]] = {std::stod(m[1]), std::stod(m[2])};
  }
  return times;
}

class TimedTrace : public JdkTest {
 protected:
  // itest.Timed traced with times, its own package only, into logs/<label>.
  JavaResult timedRun(const std::string& label, const std::string& settings) {
    const std::string logs = root.path() + "/" + label;
    makeDirectory(logs);
    return runWithSettings("LogfileDirectory=" + logs + "\nRecordTime=1\nFilterMode=1\nPackageFilter=itest*\n" +
                               settings,
                           "itest.Timed");
  }
};

TEST_P(TimedTrace, ReaderShowsTheLengthsTheProgramMeasured) {
  const std::pair<const char*, const char*> runs[] = {
      {"text", ""},
      {"text-shared", "SeparateLogfilePerThread=0\nRecordThreadID=1\n"},
      {"binary", "CompressLogfile=1\n"},
      {"binary-shared", "CompressLogfile=1\nSeparateLogfilePerThread=0\nRecordThreadID=1\nRecordMethodCallCount=1\n"},
      {"compact-shared", "CompressLogfile=2\nSeparateLogfilePerThread=0\nRecordThreadID=1\n"},
  };
  for (const auto& [label, settings] : runs) {
    SCOPED_TRACE(label);
    const std::string logs = root.path() + "/" + label;
    const JavaResult java = timedRun(label, settings);
    ASSERT_EQ(java.exitStatus, 0) << java.stderrText;
    EXPECT_NE(java.stdoutText.find("profiler> record time in nanoseconds.\n"), std::string::npos);
    const std::map<std::string, Measured> measured = measuredByThread(java.stdoutText);
    ASSERT_EQ(measured.size(), 3u) << java.stdoutText;
    const std::string run = findRunDirectory(logs);

    const ReaderResult check = runReader({"check", run}, root.path());
    EXPECT_EQ(check.status, 0) << check.out << check.err;

    double innerSum = 0, outerSelfSum = 0;
    for (const auto& [thread, m] : measured) {
      innerSum += m.innerMs;
      outerSelfSum += m.outerMs - m.innerMs;
    }
    const ReaderResult summary = runReader({"summary", run}, root.path());
    ASSERT_EQ(summary.status, 0) << summary.err;
    const auto times = summaryTimes(summary.out);
    ASSERT_EQ(times.count(kInner), 1u) << summary.out;
    EXPECT_LE(times.at(kInner).first, innerSum + 3 * kClockSlackMs) << summary.out;
    EXPECT_NEAR(times.at(kInner).first, innerSum, 3 * kToleranceMs) << summary.out;
    EXPECT_NEAR(times.at(kOuter).second, outerSelfSum, 3 * kToleranceMs) << summary.out;

    for (const char* format : {"speedscope", "chrome"}) {
      SCOPED_TRACE(format);
      const ReaderResult viewer = runReader({format, run}, root.path());
      ASSERT_EQ(viewer.status, 0) << viewer.err;
      const auto lengths = durations(std::string(format) == "chrome" ? chromeEvents(viewer.out)
                                                                      : speedscopeEvents(viewer.out));
      for (const auto& [thread, m] : measured) {
        if (lengths.count(thread) == 0) {
          // A VM that posts no method events for virtual threads leaves them out.
          EXPECT_EQ(thread, "timed-virtual");
          continue;
        }
        for (const auto& [frame, measuredMs, sleptMs] : {std::tuple(kInner, m.innerMs, kInnerSleepMs),
                                                         std::tuple(kOuter, m.outerMs, kOuterSleepMs)}) {
          const double ms = lengths.at(thread).at(frame);
          EXPECT_GE(ms, sleptMs) << thread << " " << frame;
          EXPECT_LE(ms, measuredMs + kClockSlackMs) << thread << " " << frame;
          EXPECT_NEAR(ms, measuredMs, kToleranceMs) << thread << " " << frame;
        }
      }
    }
  }
}

// Each line of `text` or `text --merge` by its thread: "@N" for a record
// that carries its thread's number, "[<log>]" for a per-thread log's own.
struct ThreadLines {
  std::map<std::string, std::vector<std::string>> byThread;
  std::vector<std::int64_t> times;  // of every record line, in order
  std::size_t switches = 0;         // lines whose thread is not that of the line before
};

ThreadLines threadLines(const std::string& text, bool merged) {
  ThreadLines lines;
  std::string log, previous;
  const std::regex time(" \\+(\\d+)");
  for (const std::string& line : splitLines(text)) {
    if (line.rfind("@thread ", 0) == 0 || line.empty()) continue;
    if (!merged && line.rfind("== ", 0) == 0) {
      log = line.substr(3, line.rfind('.') - 3);
      continue;
    }
    std::string thread = "[" + log + "]", body = line;
    if (line[0] == '@') {
      thread = line.substr(0, line.find(' '));
    } else if (merged && line[0] == '[') {
      thread = line.substr(0, line.find("] ") + 1);
      body = line.substr(thread.size() + 1);
    }
    lines.byThread[thread].push_back(body);
    std::smatch m;
    const std::string spaced = " " + body;
    if (std::regex_search(spaced, m, time)) lines.times.push_back(std::stoll(m[1]));
    lines.switches += thread != previous;
    previous = thread;
  }
  return lines;
}

// text --merge: the three threads' records in one stream whose times never
// go back, each thread's lines the same and in the same order as in its own
// log, and the threads taking turns as they ran at once.
TEST_P(TimedTrace, MergedTextIsOneStreamInTimeOrder) {
  const std::pair<const char*, const char*> runs[] = {
      {"text", ""}, {"binary", "CompressLogfile=1\n"}, {"compact", "CompressLogfile=2\n"}};
  for (const auto& [label, settings] : runs) {
    SCOPED_TRACE(label);
    const std::string logs = root.path() + "/" + label;
    const JavaResult java = timedRun(label, settings);
    ASSERT_EQ(java.exitStatus, 0) << java.stderrText;
    const std::string run = findRunDirectory(logs);
    const ReaderResult text = runReader({"text", run}, root.path());
    const ReaderResult merged = runReader({"text", run, "--merge"}, root.path());
    ASSERT_EQ(text.status, 0) << text.err;
    ASSERT_EQ(merged.status, 0) << merged.err;
    const ThreadLines own = threadLines(text.out, false), one = threadLines(merged.out, true);
    EXPECT_EQ(one.byThread, own.byThread);
    EXPECT_GE(one.byThread.size(), 3u) << merged.out;
    EXPECT_EQ(one.times.size(), own.times.size());
    EXPECT_TRUE(std::is_sorted(one.times.begin(), one.times.end())) << merged.out;
    // Each thread enters outer() and inner() before any leaves them.
    EXPECT_GE(one.switches, 2 * one.byThread.size()) << merged.out;
  }
}

// A call whose own code reaches no other Java code is logged whole at its
// return by the bytecode engine: entry and exit carry the one time read
// there, while calls that do more take a time at each end.
TEST_P(TimedTrace, LeavesTakeTheTimeOfTheirReturn) {
  const JavaResult java = runWithSettings("LogfileDirectory=" + root.path() +
                                              "\nCaptureMode=bytecode\nRecordTime=1\nFilterMode=1\n"
                                              "PackageFilter=itest*\n",
                                          "itest.Leaves");
  ASSERT_EQ(java.exitStatus, 0) << java.stderrText;
  EXPECT_NE(java.stdoutText.find("leaves ok"), std::string::npos);
  const std::string log = readFile(findRunDirectory(root.path()) + "/main.log");
  const std::regex entry(R"(\+(\d+) \S+ itest\.(\S+?)\(\d+\)(\.[^(]+)\(.*\{)"), exit(R"(\} \+(\d+).*)");
  std::vector<std::pair<std::string, int64_t>> open;
  int64_t last = 0;
  std::map<std::string, int> whole;  // calls by method whose two times are one
  for (const std::string& line : splitLines(log)) {
    std::smatch m;
    if (std::regex_match(line, m, entry)) {
      open.emplace_back(m[2].str() + m[3].str(), std::stoll(m[1]));
    } else if (std::regex_match(line, m, exit) && !open.empty()) {
      whole[open.back().first] += std::stoll(m[1]) == open.back().second;
      open.pop_back();
    } else {
      continue;
    }
    EXPECT_GE(std::stoll(m[1]), last) << line;
    last = std::stoll(m[1]);
  }
  EXPECT_TRUE(open.empty()) << log;
  EXPECT_EQ(whole, (std::map<std::string, int>{{"Leaves.<init>", 0},
                                               {"Leaves$Noop.<init>", 0},
                                               {"Leaves.add", 4},
                                               {"Leaves.count", 5},
                                               {"Leaves.locked", 1},
                                               {"Leaves.main", 0},
                                               {"Leaves.otherCount", 0},
                                               {"Leaves.ratio", 0},
                                               {"Leaves.sum", 0},
                                               {"Leaves.twice", 6}}))
      << log;
}

KOLVAPROF_RUN_ON_EVERY_JDK(TimedTrace);

}  // namespace
}  // namespace kolvaprof::itest
