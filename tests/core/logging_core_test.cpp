#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/console.h"
#include "core/start_time.h"
#include "support/test_agent.h"

namespace {

using kolvaprof::testing::TestAgent;

std::string workingDirectory() {
  char buffer[1024];
  return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

TEST(LoggingCore, BannerDefaultsAndShutdownLine) {
  const std::time_t before = std::time(nullptr);
  ::testing::internal::CaptureStdout();
  auto agent = std::make_unique<TestAgent>();
  const std::string banner = ::testing::internal::GetCapturedStdout();
  const std::time_t after = std::time(nullptr);

  EXPECT_EQ(banner, "profiler> version 1.5.1\nprofiler> " + workingDirectory() +
                        "\nprofiler> initializing ..... \n");
  EXPECT_EQ(kolvaprof::currentWorkingDirectory(), workingDirectory());

  const std::string stamp = agent->startTimeStamp();
  EXPECT_TRUE(stamp == kolvaprof::formatStartTimeStamp(before) ||
              stamp == kolvaprof::formatStartTimeStamp(after))
      << stamp;
  EXPECT_EQ(agent->logDirectory(), stamp + "/");

  const kolvaprof::LoggingOptions& o = agent->options();
  EXPECT_EQ(o.logDirectory, stamp + "/");
  EXPECT_FALSE(o.verbose);
  EXPECT_FALSE(o.ignoreBuiltInClass);
  EXPECT_FALSE(o.getFilteredMethod);
  EXPECT_FALSE(o.compressLogfile);
  EXPECT_TRUE(o.separateLogfilePerThread);
  EXPECT_FALSE(o.recordThreadId);
  EXPECT_TRUE(o.ignoreFilteredMethods);
  EXPECT_FALSE(o.recordMethodCallCount);
  EXPECT_EQ(o.recordCallerLocation, 0);
  EXPECT_TRUE(o.startMethods.empty() && o.packageFilters.empty() && o.classFilters.empty() &&
              o.methodFilters.empty());
  EXPECT_EQ(agent->sharedLogFile(), nullptr);
  EXPECT_EQ(agent->indexFile(), nullptr);
  EXPECT_EQ(agent->getJavaVm(), nullptr);

  EXPECT_EQ(agent->lastExceptionClass(), "");
  agent->setLastExceptionClass("java.lang.IllegalStateException");
  EXPECT_EQ(agent->lastExceptionClass(), "java.lang.IllegalStateException");

  EXPECT_EQ(agent->allocateObjectTag(), 1);
  EXPECT_EQ(agent->allocateObjectTag(), 2);
  EXPECT_EQ(agent->allocateObjectTag(), 3);

  // Shutdown lets the clock's second move on before it closes anything.
  const std::time_t noted = std::time(nullptr);
  ::testing::internal::CaptureStdout();
  agent.reset();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "profiler> exit\n");
  EXPECT_GT(std::time(nullptr), noted);
}

TEST(LoggingCore, ConcurrentObjectTagsAreUniqueAndDense) {
  TestAgent agent;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 5000;
  std::vector<std::vector<int64_t>> tags(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&agent, &mine = tags[t]] {
      for (int i = 0; i < kPerThread; ++i) mine.push_back(agent.allocateObjectTag());
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<int64_t> all;
  for (const auto& mine : tags) {
    EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
    all.insert(all.end(), mine.begin(), mine.end());
  }
  std::sort(all.begin(), all.end());
  for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<int64_t>(i) + 1);
}

TEST(Console, PrintMessage) {
  std::ostringstream out;
  kolvaprof::printMessage(&out, "record thread ID.");
  kolvaprof::printMessage(&out, "");
  EXPECT_EQ(out.str(), "profiler> record thread ID.\nprofiler> \n");

  ::testing::internal::CaptureStdout();
  kolvaprof::printMessage(nullptr, "nothing");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

class StartTime : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    hadZone = zone != nullptr;
    if (hadZone) savedZone = zone;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (hadZone) setenv("TZ", savedZone.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  bool hadZone = false;
  std::string savedZone;
};

TEST_F(StartTime, FourteenDigitsOfLocalTime) {
  EXPECT_EQ(kolvaprof::formatStartTimeStamp(1209718987), "20080502090307");
  EXPECT_EQ(kolvaprof::formatStartTimeStamp(978404645), "20010102030405");
  EXPECT_EQ(kolvaprof::formatStartTimeStamp(0), "19700101000000");
  setenv("TZ", "EST5", 1);
  tzset();
  EXPECT_EQ(kolvaprof::formatStartTimeStamp(1209718987), "20080502040307");
}

TEST_F(StartTime, UnconvertibleClock) {
  EXPECT_EQ(kolvaprof::formatStartTimeStamp(std::numeric_limits<std::time_t>::max()),
            "UNKNOWN-STARTTIME");
}

}  // namespace
