// ReceiverTags: when the receiver of a call is fetched and tagged.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

class ReceiverTags : public JdkTest {
 protected:
  // The main thread's log of itest.Calls, logged with only the program's
  // own package selected.
  std::string traceCalls(const std::string& mode, const std::string& echo) {
    const JavaResult result =
        runWithSettings("ReceiverTags=" + mode + "\nFilterMode=1\nPackageFilter=itest*\n", "itest.Calls");
    EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
    const std::vector<std::string> lines = result.stdoutLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), echo), echo.empty() ? 0 : 1);
    const std::string runDir = findRunDirectory(workDir);
    return runDir.empty() ? std::string() : readFile(runDir + "/main.log");
  }
};

std::set<long> receiverTags(const std::string& trace) {
  static const std::regex tag(R"(\((\d+)\)\.)");
  std::set<long> tags;
  for (std::sregex_iterator it(trace.begin(), trace.end(), tag), end; it != end; ++it) {
    tags.insert(std::stol((*it)[1]));
  }
  return tags;
}

TEST_P(ReceiverTags, NeverFetchedGivesZeroEverywhere) {
  const std::string trace = traceCalls("0", "profiler> record no receiver tags.");
  EXPECT_EQ(receiverTags(trace), std::set<long>{0});
  EXPECT_TRUE(isBalancedTrace(trace, true));
  EXPECT_NE(trace.find("int itest.Calls(0).add(int){"), std::string::npos);
}

TEST_P(ReceiverTags, LoggedOnlyNumbersJustTheLoggedReceivers) {
  const std::string trace = traceCalls("2", "profiler> record receiver tags of logged calls only.");
  // Only the program's three objects were ever tagged, so they hold the first
  // three numbers, one each, and keep them for every call.
  EXPECT_EQ(receiverTags(trace), (std::set<long>{0, 1, 2, 3}));
  EXPECT_NE(trace.find("void itest.Calls(1).<init>(int){"), std::string::npos);
  EXPECT_NE(trace.find("void itest.Calls(2).<init>(int){"), std::string::npos);
  EXPECT_NE(trace.find("long[] itest.Calls$Nested(3).spread(int[],java.lang.String[]){"),
            std::string::npos);
  EXPECT_TRUE(isBalancedTrace(trace, true));
}

// Threads released together call touch() on the same fresh objects, in the
// same order: the k-th touch() in every thread's log is on the k-th object.
// Numbering without one lock for all threads gave some objects two numbers
// in most runs of this size.
TEST_P(ReceiverTags, ThreadsMeetingNewObjectsAtOnceAgreeOnTheirNumber) {
  constexpr int kThreads = 4;
  constexpr int kObjects = 1000 * 20;  // rounds x objects per round
  for (const char* engine : {"events", "bytecode"}) {
    SCOPED_TRACE(engine);
    const std::string logs = root.path() + "/" + engine;
    makeDirectory(logs);
    const JavaResult result = runWithSettings("LogfileDirectory=" + logs + "\nCaptureMode=" + engine +
                                                  "\nFilterMode=1\nMethodFilter=touch\nReceiverTags=2\n",
                                              "itest.ReceiverRace", {std::to_string(kThreads), "1000", "20"});
    ASSERT_EQ(result.exitStatus, 0) << result.stderrText;
    const std::string runDir = findRunDirectory(logs);
    ASSERT_FALSE(runDir.empty());
    static const std::regex touch(R"(\((\d+)\)\.touch\(\))");
    std::map<int, std::set<long>> numbersOfObject;
    std::map<long, std::set<int>> objectsOfNumber;
    int threadLogs = 0;
    for (const std::string& name : listDirectory(runDir)) {
      if (name.rfind("racer-", 0) != 0) continue;
      ++threadLogs;
      const std::string trace = readFile(runDir + "/" + name);
      int k = 0;
      for (std::sregex_iterator it(trace.begin(), trace.end(), touch), end; it != end; ++it, ++k) {
        numbersOfObject[k].insert(std::stol((*it)[1]));
        objectsOfNumber[std::stol((*it)[1])].insert(k);
      }
      EXPECT_EQ(k, kObjects) << name;
    }
    EXPECT_EQ(threadLogs, kThreads);
    int several = 0;
    for (const auto& [object, numbers] : numbersOfObject) several += numbers.size() != 1;
    EXPECT_EQ(several, 0) << "objects with more than one number";
    EXPECT_EQ(objectsOfNumber.size(), static_cast<std::size_t>(kObjects));
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(ReceiverTags);

}  // namespace
}  // namespace kolvaprof::itest
