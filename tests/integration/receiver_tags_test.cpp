// ReceiverTags: when the receiver of a call is fetched and tagged.

#include <gtest/gtest.h>

#include <algorithm>
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

KOLVAPROF_RUN_ON_EVERY_JDK(ReceiverTags);

}  // namespace
}  // namespace kolvaprof::itest
