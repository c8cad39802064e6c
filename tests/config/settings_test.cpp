#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/settings.h"
#include "core/logging_options.h"
#include "output/log_file.h"
#include "registry/patterns.h"
#include "support/test_agent.h"

namespace {

namespace fs = std::filesystem;
using kolvaprof::testing::TestAgent;

// Every test runs in a fresh directory of its own, which is also the working
// directory, so that relative names (profiler.ini, the default log directory)
// land there.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kolvaprof-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    previous = fs::current_path();
    fs::current_path(dir);
  }
  void TearDown() override {
    fs::current_path(previous);
    fs::remove_all(dir);
  }

  std::string write(const std::string& name, const std::string& content) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string load(TestAgent& agent, const std::string& optionString) {
    ::testing::internal::CaptureStdout();
    agent.loadSettings(optionString);
    return ::testing::internal::GetCapturedStdout();
  }

  std::string dir;
  fs::path previous;
};

TEST_F(Settings, EveryKeyAndItsEcho) {
  TestAgent agent;
  const std::string file = write("every.ini",
                                 "LogfileDirectory=" + dir + "\n"
                                 "GetFilteredMethod=1\n"
                                 "StartMethod=org.demo.Main.main\n"
                                 "StartMethod=run\n"
                                 "ClassFilter=a.b.Name\n"
                                 "ClassFilter=Other\n"
                                 "PackageFilter=a.b*\n"
                                 "MethodFilter=org.demo.Main.secret\n"
                                 "SeparateLogfilePerThread=1\n"
                                 "CompressLogfile=1\n"
                                 "CompressLogfile=0\n"
                                 "RecordThreadID=1\n"
                                 "RecordThreadID=yes\n"
                                 "RecordMethodCallCount=1\n"
                                 "FilterMode=1\n"
                                 "FilterMode=x\n"
                                 "IgnoreBuiltInClass=1\n"
                                 "Verbose=1\n"
                                 "RecordCallerLocation=2\n"
                                 "RecordCallerLocation=3\n");
  const std::string logDirectory = dir + "/" + agent.startTimeStamp() + "/";
  EXPECT_EQ(load(agent, file),
            "profiler> output logfile in " + logDirectory + "\n"
            "profiler> logging start from method call of org.demo.Main.main\n"
            "profiler> logging start from method call of run\n"
            "profiler> filtering class a.b.Name\n"
            "profiler> filtering class Other\n"
            "profiler> filtering package a.b*\n"
            "profiler> filtering method org.demo.Main.secret\n"
            "profiler> separate logfile per thread.\n"
            "profiler> compress log file\n"
            "profiler> index file = " + logDirectory + "Index.dat\n"
            "profiler> record thread ID.\n"
            "profiler> record method call count.\n"
            "profiler> recorde only filtered methods.\n"
            "profiler> record caller instruction soucecode line number.\n");

  const kolvaprof::LoggingOptions& o = agent.options();
  EXPECT_EQ(o.logDirectory, logDirectory);
  EXPECT_TRUE(fs::is_directory(logDirectory));
  EXPECT_TRUE(o.getFilteredMethod);
  ASSERT_EQ(o.startMethods.size(), 2u);
  EXPECT_EQ(o.startMethods[0]->classPart().level().text(), "Main");
  EXPECT_EQ(o.startMethods[0]->level().text(), "main");
  EXPECT_EQ(o.startMethods[1]->level().text(), "run");
  ASSERT_EQ(o.classFilters.size(), 2u);
  EXPECT_EQ(o.classFilters[0]->packagePart().level().text(), "a.b");
  EXPECT_EQ(o.classFilters[1]->level().text(), "Other");
  ASSERT_EQ(o.packageFilters.size(), 1u);
  EXPECT_EQ(o.packageFilters[0]->level().text(), "a.b*");
  ASSERT_EQ(o.methodFilters.size(), 1u);
  EXPECT_EQ(o.methodFilters[0]->level().text(), "secret");
  EXPECT_TRUE(o.separateLogfilePerThread);
  EXPECT_EQ(agent.sharedLogFile(), nullptr);
  EXPECT_TRUE(o.compressLogfile);
  EXPECT_NE(agent.indexFile(), nullptr);
  EXPECT_TRUE(o.recordThreadId);
  EXPECT_TRUE(o.recordMethodCallCount);
  EXPECT_FALSE(o.ignoreFilteredMethods);
  EXPECT_TRUE(o.ignoreBuiltInClass);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.recordCallerLocation, 2);
}

TEST_F(Settings, OtherValues) {
  TestAgent agent;
  const std::string stamp = agent.startTimeStamp();
  const std::string file = write("other.ini",
                                 "SeparateLogfilePerThread=0\n"
                                 "LogfileDirectory=" + dir + "/\n"
                                 "RecordThreadID=1\n"
                                 "RecordThreadID=0\n"
                                 "RecordThreadID=yes\n"
                                 "RecordMethodCallCount=1\n"
                                 "RecordMethodCallCount=2\n"
                                 "FilterMode=1\n"
                                 "FilterMode=0\n"
                                 "FilterMode=true\n"
                                 "RecordCallerLocation=1\n"
                                 "RecordCallerLocation=3\n"
                                 "CompressLogfile=0\n"
                                 "GetFilteredMethod=1\n"
                                 "GetFilteredMethod=true\n"
                                 "Verbose=1\n"
                                 "Verbose=on\n"
                                 "IgnoreBuiltInClass=1\n"
                                 "IgnoreBuiltInClass=2\n");
  EXPECT_EQ(load(agent, file),
            "profiler> output logfile in " + dir + "/" + stamp + "/\n"
            "profiler> record thread ID.\n"
            "profiler> record method call count.\n"
            "profiler> recorde only filtered methods.\n"
            "profiler> ignore filtered methods.\n"
            "profiler> record caller instruction bytecode number.\n");

  const kolvaprof::LoggingOptions& o = agent.options();
  EXPECT_FALSE(o.separateLogfilePerThread);
  // Made while the directory was still the default one.
  ASSERT_NE(agent.sharedLogFile(), nullptr);
  EXPECT_EQ(agent.sharedLogFile()->fileName(), stamp + "/" + stamp + ".log");
  EXPECT_EQ(o.logDirectory, dir + "/" + stamp + "/");
  EXPECT_FALSE(o.recordThreadId);
  EXPECT_FALSE(o.recordMethodCallCount);
  EXPECT_TRUE(o.ignoreFilteredMethods);
  EXPECT_EQ(o.recordCallerLocation, 1);
  EXPECT_FALSE(o.compressLogfile);
  EXPECT_EQ(agent.indexFile(), nullptr);
  EXPECT_FALSE(o.getFilteredMethod);
  EXPECT_FALSE(o.verbose);
  EXPECT_FALSE(o.ignoreBuiltInClass);
}

TEST_F(Settings, MalformedLinesAreSkipped) {
  TestAgent agent;
  const std::string file = write("odd.ini",
                                 "[Settings]\n"
                                 "no equals sign\n"
                                 "=1\n"
                                 "RecordMethodCallCount=\n"
                                 "   =   \n"
                                 ";RecordThreadID=1\n"
                                 " ;FilterMode=1\n"
                                 "\t GetFilteredMethod \t=\t 1 \r\n"
                                 "ignorebuiltinclass=1\n"
                                 "Verbose=1\n"
                                 "Verbose=1 ;\n"
                                 "\n"
                                 "ClassFilter = a.b.C = x \n"
                                 "\v\fRecordMethodCallCount\t=1");  // no final line feed
  EXPECT_EQ(load(agent, file),
            "profiler> filtering class a.b.C = x\n"
            "profiler> record method call count.\n");
  const kolvaprof::LoggingOptions& o = agent.options();
  EXPECT_TRUE(o.getFilteredMethod);
  EXPECT_FALSE(o.recordThreadId);
  EXPECT_TRUE(o.ignoreFilteredMethods);
  EXPECT_FALSE(o.ignoreBuiltInClass);
  EXPECT_FALSE(o.verbose);
  EXPECT_TRUE(o.recordMethodCallCount);
  ASSERT_EQ(o.classFilters.size(), 1u);
  EXPECT_EQ(o.classFilters[0]->packagePart().level().text(), "a.b");
  EXPECT_EQ(o.classFilters[0]->level().text(), "C = x");
}

TEST_F(Settings, OverlongLineEndsReading) {
  TestAgent agent;
  const std::string longest = "StartMethod=" + std::string(255 - 12, 'x');
  const std::string tooLong = "StartMethod=" + std::string(256 - 12, 'y');
  ASSERT_EQ(longest.size(), 255u);
  const std::string file =
      write("long.ini", longest + "\nVerbose=1\n" + tooLong + "\nRecordThreadID=1\n");
  EXPECT_EQ(load(agent, file),
            "profiler> logging start from method call of " + longest.substr(12) + "\n");
  const kolvaprof::LoggingOptions& o = agent.options();
  ASSERT_EQ(o.startMethods.size(), 1u);
  EXPECT_EQ(o.startMethods[0]->level().text(), longest.substr(12));
  EXPECT_TRUE(o.verbose);
  EXPECT_FALSE(o.recordThreadId);
}

TEST_F(Settings, LogfileDirectoryMakesOneLevel) {
  TestAgent agent;
  const std::string stamp = agent.startTimeStamp();
  const std::string expected = dir + "/" + stamp + "/";
  ::testing::internal::CaptureStdout();
  agent.applySetting("LogfileDirectory", dir + "/");
  EXPECT_EQ(agent.logDirectory(), expected);
  agent.applySetting("LogfileDirectory", dir);
  EXPECT_EQ(agent.logDirectory(), expected);
  agent.applySetting("LogfileDirectory", dir + "/missing/deeper");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "profiler> output logfile in " + expected + "\n"
            "profiler> output logfile in " + expected + "\n"
            "profiler> output logfile in " + dir + "/missing/deeper/" + stamp + "/\n");
  EXPECT_EQ(agent.options().logDirectory, dir + "/missing/deeper/" + stamp + "/");
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_FALSE(fs::exists(dir + "/missing"));
}

TEST_F(Settings, WhichFileIsRead) {
  TestAgent agent;
  EXPECT_EQ(load(agent, dir + "/absent.ini"), "");
  EXPECT_FALSE(agent.options().recordThreadId);
  EXPECT_EQ(agent.logDirectory(), agent.startTimeStamp() + "/");

  write("profiler.ini", "RecordThreadID=1\n");
  EXPECT_EQ(load(agent, ""), "profiler> record thread ID.\n");
  write("named.ini", "RecordMethodCallCount=1\n");
  EXPECT_EQ(load(agent, "named.ini"), "profiler> record method call count.\n");
  EXPECT_TRUE(agent.options().recordThreadId);
  EXPECT_TRUE(agent.options().recordMethodCallCount);
}

TEST(TrimWhitespace, BothEnds) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},          {" \t\n\v\f\r", ""}, {"  a b  ", "a b"}, {"\tVerbose\r\n", "Verbose"},
      {"x", "x"},        {"\v=\f", "="},      {"a\t\tb", "a\t\tb"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(kolvaprof::trimWhitespace(text), expected) << '"' << text << '"';
  }
}

}  // namespace
