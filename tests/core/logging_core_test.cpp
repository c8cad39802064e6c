#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <filesystem>

#include "core/clock.h"
#include "output/index_file.h"
#include "output/log_file.h"
#include "output/thread_context.h"
#include "output/thread_registry.h"
#include "registry/method_info.h"
#include "registry/method_registry.h"
#include "support/test_agent.h"

namespace {

using kolvaprof::testing::SteppingClock;
using kolvaprof::testing::TestAgent;
namespace fs = std::filesystem;

std::string workingDirectory() {
  char buffer[1024];
  return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

TEST(LoggingCore, BannerDefaultsAndShutdownLine) {
  const SteppingClock clock(1209718987);
  ::testing::internal::CaptureStdout();
  auto agent = std::make_unique<TestAgent>(clock);
  const std::string banner = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(banner, "profiler> version 1.5.1\nprofiler> " + workingDirectory() +
                        "\nprofiler> initializing ..... \n");
  EXPECT_EQ(kolvaprof::currentWorkingDirectory(), workingDirectory());

  const std::string stamp = agent->startTimeStamp();
  EXPECT_EQ(stamp, kolvaprof::formatStartTimeStamp(1209718987));
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

  EXPECT_EQ(agent->allocateObjectTag(), 1);
  EXPECT_EQ(agent->allocateObjectTag(), 2);
  EXPECT_EQ(agent->allocateObjectTag(), 3);

  // Shutdown lets the clock's second move on before it closes anything.
  const std::time_t noted = clock.now();
  ::testing::internal::CaptureStdout();
  agent.reset();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "profiler> exit\n");
  EXPECT_GT(clock.now(), noted + 2);
}

TEST(LoggingCore, ConfigureMakesWhatTheSettingsAskFor) {
  char pattern[] = "/tmp/kolvaprof-core-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  {
    ::testing::internal::CaptureStdout();
    TestAgent agent;
    const std::string stamp = agent.startTimeStamp();
    agent.configure({{"SeparateLogfilePerThread", "0"},
                     {"LogfileDirectory", dir + "/missing/deeper"},
                     {"LogfileDirectory", dir},
                     {"CompressLogfile", "1"}});
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("profiler> output logfile in " + dir + "/" + stamp + "/\n"
                           "profiler> compress log file\n"),
              std::string::npos);
    // Both are made at once, with the missing levels above them.
    EXPECT_TRUE(fs::is_directory(dir + "/" + stamp));
    EXPECT_TRUE(fs::is_directory(dir + "/missing/deeper/" + stamp));
    // The shared log was asked for while the directory was the default one.
    ASSERT_NE(agent.sharedLogFile(), nullptr);
    EXPECT_EQ(agent.sharedLogFile()->fileName(), stamp + "/" + stamp + ".log");
    EXPECT_NE(agent.indexFile(), nullptr);
    ::testing::internal::CaptureStdout();
  }
  ::testing::internal::GetCapturedStdout();
  fs::remove_all(dir);
}

// The run clock is read once per record, on entry after the gates and on
// exit, and nowhere else: a call the filter gate stops takes no reading.
// Byte for byte, through the injected clock.
TEST(LoggingCore, RecordTimesComeFromTheRunClock) {
  const auto logged = reinterpret_cast<kolvaprof::MethodKey>(0x71e000000010);
  const auto excluded = reinterpret_cast<kolvaprof::MethodKey>(0x71e000000020);
  const std::string entry1000("\x01\0\0\0\0\0\0\0\x01\0\0\0\xe8\x03\0\0\0\0\0\0", 20);
  const std::string exit2000("\0\0\0\0\0\0\0\0\x01\0\0\0\xd0\x07\0\0\0\0\0\0", 20);
  const std::pair<std::string, std::string> cases[] = {
      {"0", "+1000 void demo.Timed(0).run(){\n} +2000\n"}, {"1", entry1000 + exit2000}};
  for (const auto& [compress, expected] : cases) {
    char pattern[] = "/tmp/kolvaprof-core-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const auto key = reinterpret_cast<kolvaprof::ThreadKey>(0x71e100000000 + compress[0] * 64);
    std::string file;
    {
      ::testing::internal::CaptureStdout();
      TestAgent agent;
      agent.configure({{"LogfileDirectory", pattern}, {"CompressLogfile", compress}, {"RecordTime", "1"}});
      file = agent.logDirectory() + "timed-" + compress + ".log";
      for (const kolvaprof::MethodKey method : {logged, excluded})
        kolvaprof::MethodRegistry::instance().store(
            method, std::make_unique<kolvaprof::MethodInfo>("demo", "Timed", "run", std::vector<std::string>{},
                                                            "void", method == excluded, false, true));
      kolvaprof::ThreadRegistry::instance().onThreadStart(key, "timed-" + compress);
      kolvaprof::testing::TestCallSite site(key);
      agent.logMethodEntry(site, *kolvaprof::findMethodInfo(logged));
      agent.logMethodEntry(site, *kolvaprof::findMethodInfo(excluded));
      agent.logMethodExit(site, *kolvaprof::findMethodInfo(excluded), false);
      agent.logMethodExit(site, *kolvaprof::findMethodInfo(logged), false);
    }
    ::testing::internal::GetCapturedStdout();
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected) << compress;
    fs::remove_all(pattern);
  }
}

// An engine hands a call that passes every gate over the short way; its
// records must be those of the gated path, whatever the settings ask for.
TEST(LoggingCore, PlainCallsWriteWhatGatedCallsWrite) {
  using kolvaprof::MethodInfo;
  const kolvaprof::testing::SettingLines variants[] = {
      {},
      {{"ReceiverTags", "0"}},
      {{"ReceiverTags", "2"}, {"RecordTime", "1"}},
      {{"SeparateLogfilePerThread", "0"}, {"RecordThreadID", "1"}, {"RecordMethodCallCount", "1"}},
      {{"CompressLogfile", "1"}, {"RecordMethodCallCount", "1"}, {"RecordThreadID", "1"}},
      {{"CompressLogfile", "1"}, {"ReceiverTags", "0"}, {"RecordTime", "1"}},
      {{"CompressLogfile", "2"}, {"RecordTime", "1"}},
  };
  int run = 0;
  for (const auto& variant : variants) {
    std::string written[2];
    for (const bool plain : {false, true}) {
      char pattern[] = "/tmp/kolvaprof-core-XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      const auto key = reinterpret_cast<kolvaprof::ThreadKey>(0x71e200000000 + 64 * ++run);
      const auto outerKey = reinterpret_cast<kolvaprof::MethodKey>(0x71e200000010);
      const auto innerKey = reinterpret_cast<kolvaprof::MethodKey>(0x71e200000020);
      {
        ::testing::internal::CaptureStdout();
        kolvaprof::ThreadRegistry::instance().reset();
        TestAgent agent;
        kolvaprof::testing::SettingLines lines = {{"LogfileDirectory", pattern}};
        lines.insert(lines.end(), variant.begin(), variant.end());
        agent.configure(lines);
        auto& methods = kolvaprof::MethodRegistry::instance();
        methods.store(outerKey, std::make_unique<MethodInfo>("demo", "Plain", "outer",
                                                            std::vector<std::string>{"int"},
                                                            "void", false, false));
        methods.store(innerKey, std::make_unique<MethodInfo>("demo", "Plain", "inner",
                                                            std::vector<std::string>{}, "long",
                                                            false, false, true));
        const MethodInfo& outer = *kolvaprof::findMethodInfo(outerKey);
        const MethodInfo& inner = *kolvaprof::findMethodInfo(innerKey);
        kolvaprof::ThreadRegistry::instance().onThreadStart(key, "plain");
        kolvaprof::testing::TestCallSite site(key, 7);
        if (plain) {
          // An engine's first hook on a thread goes the gated way, which
          // gives the thread its context.
          agent.logMethodEntry(site, outer);
          kolvaprof::ThreadContext& context =
              *kolvaprof::ThreadRegistry::instance().findContext(key);
          EXPECT_TRUE(agent.isPlainCall(outer) && agent.isPlainCall(inner));
          agent.logPlainEntry(context, inner, 0);
          agent.logPlainExit(context, inner);
          agent.logPlainEntry(context, outer, 9);
          agent.logPlainExit(context, outer);
          agent.logPlainExit(context, outer);
        } else {
          agent.logMethodEntry(site, outer);
          agent.logMethodEntry(site, inner);
          agent.logMethodExit(site, inner, false);
          site.receiver = 9;
          agent.logMethodEntry(site, outer);
          agent.logMethodExit(site, outer, false);
          agent.logMethodExit(site, outer, false);
        }
      }
      ::testing::internal::GetCapturedStdout();
      for (const auto& file : fs::recursive_directory_iterator(pattern)) {
        if (!file.is_regular_file() || file.path().extension() != ".log") continue;
        std::ifstream in(file.path(), std::ios::binary);
        written[plain] += std::string(std::istreambuf_iterator<char>(in), {});
      }
      fs::remove_all(pattern);
    }
    EXPECT_FALSE(written[0].empty()) << "variant " << &variant - variants;
    EXPECT_EQ(written[1], written[0]) << "variant " << &variant - variants;
  }
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
