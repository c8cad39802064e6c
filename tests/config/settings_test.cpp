#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "config/settings.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kStamp = "20261208093000";

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

  // The settings the file names, and their console lines as printed.
  kolvaprof::Settings load(const std::string& optionString) {
    kolvaprof::Settings read = kolvaprof::readSettingsFile(optionString, kStamp);
    echo.clear();
    for (const kolvaprof::EchoLine& line : read.echo) echo += "profiler> " + line.asRead() + "\n";
    return read;
  }

  std::string echo;
  std::string dir;
  fs::path previous;
};

TEST_F(Settings, EveryKeyAndItsEcho) {
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
                                 "CompressLogfile=2\n"
                                 "RecordThreadID=1\n"
                                 "RecordThreadID=yes\n"
                                 "RecordMethodCallCount=1\n"
                                 "FilterMode=1\n"
                                 "FilterMode=x\n"
                                 "IgnoreBuiltInClass=1\n"
                                 "Verbose=1\n"
                                 "RecordCallerLocation=2\n"
                                 "RecordCallerLocation=3\n"
                                 "CaptureMode=bytecode\n");
  const std::string logDirectory = dir + "/" + kStamp + "/";
  const kolvaprof::Settings read = load(file);
  EXPECT_EQ(echo,
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
            "profiler> compress log file\n"
            "profiler> index file = " + logDirectory + "Index.dat\n"
            "profiler> compact records in compressed blocks.\n"
            "profiler> record thread ID.\n"
            "profiler> record method call count.\n"
            "profiler> recorde only filtered methods.\n"
            "profiler> record caller instruction soucecode line number.\n"
            "profiler> capture calls by bytecode rewriting.\n");

  const kolvaprof::LoggingOptions& o = read.options;
  EXPECT_EQ(o.logDirectory, logDirectory);
  // Reading makes nothing; the core makes the directories listed.
  EXPECT_FALSE(fs::exists(logDirectory));
  EXPECT_EQ(read.directoriesToMake, std::vector<std::string>{logDirectory});
  EXPECT_TRUE(o.getFilteredMethod);
  EXPECT_EQ(o.startMethods, (std::vector<std::string>{"org.demo.Main.main", "run"}));
  EXPECT_EQ(o.classFilters, (std::vector<std::string>{"a.b.Name", "Other"}));
  EXPECT_EQ(o.packageFilters, std::vector<std::string>{"a.b*"});
  EXPECT_EQ(o.methodFilters, std::vector<std::string>{"org.demo.Main.secret"});
  EXPECT_TRUE(o.separateLogfilePerThread);
  EXPECT_FALSE(read.sharedLog);
  EXPECT_TRUE(o.compressLogfile);
  EXPECT_TRUE(o.compactRecords);
  ASSERT_TRUE(read.index);
  EXPECT_EQ(*read.index, logDirectory);
  EXPECT_TRUE(o.recordThreadId);
  EXPECT_TRUE(o.recordMethodCallCount);
  EXPECT_FALSE(o.ignoreFilteredMethods);
  EXPECT_TRUE(o.ignoreBuiltInClass);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.recordCallerLocation, 2);
  EXPECT_EQ(o.captureMode, kolvaprof::CaptureMode::Bytecode);
}

TEST_F(Settings, OtherValues) {
  const std::string stamp = kStamp;
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
                                 "IgnoreBuiltInClass=2\n"
                                 "CaptureMode=bytecode\n"
                                 "CaptureMode=jit\n");
  const kolvaprof::Settings read = load(file);
  EXPECT_EQ(echo,
            "profiler> output logfile in " + dir + "/" + stamp + "/\n"
            "profiler> record thread ID.\n"
            "profiler> record method call count.\n"
            "profiler> recorde only filtered methods.\n"
            "profiler> ignore filtered methods.\n"
            "profiler> record caller instruction bytecode number.\n"
            "profiler> capture calls by bytecode rewriting.\n"
            "profiler> unknown CaptureMode jit (events or bytecode): capture calls by events.\n");

  const kolvaprof::LoggingOptions& o = read.options;
  EXPECT_FALSE(o.separateLogfilePerThread);
  // Asked for while the directory was still the default one.
  ASSERT_TRUE(read.sharedLog);
  EXPECT_EQ(*read.sharedLog, stamp + "/");
  EXPECT_EQ(o.logDirectory, dir + "/" + stamp + "/");
  EXPECT_FALSE(o.recordThreadId);
  EXPECT_FALSE(o.recordMethodCallCount);
  EXPECT_TRUE(o.ignoreFilteredMethods);
  EXPECT_EQ(o.recordCallerLocation, 1);
  EXPECT_FALSE(o.compressLogfile);
  EXPECT_FALSE(read.index);
  EXPECT_FALSE(o.getFilteredMethod);
  EXPECT_FALSE(o.verbose);
  EXPECT_FALSE(o.ignoreBuiltInClass);
  EXPECT_EQ(o.captureMode, kolvaprof::CaptureMode::Events);
}

TEST_F(Settings, MalformedLinesAreSkipped) {
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
  const kolvaprof::LoggingOptions o = load(file).options;
  EXPECT_EQ(echo,
            "profiler> filtering class a.b.C = x\n"
            "profiler> record method call count.\n");
  EXPECT_TRUE(o.getFilteredMethod);
  EXPECT_FALSE(o.recordThreadId);
  EXPECT_TRUE(o.ignoreFilteredMethods);
  EXPECT_FALSE(o.ignoreBuiltInClass);
  EXPECT_FALSE(o.verbose);
  EXPECT_TRUE(o.recordMethodCallCount);
  EXPECT_EQ(o.classFilters, std::vector<std::string>{"a.b.C = x"});
}

TEST_F(Settings, OverlongLineEndsReading) {
  const std::string longest = "StartMethod=" + std::string(255 - 12, 'x');
  const std::string tooLong = "StartMethod=" + std::string(256 - 12, 'y');
  ASSERT_EQ(longest.size(), 255u);
  const std::string file =
      write("long.ini", longest + "\nVerbose=1\n" + tooLong + "\nRecordThreadID=1\n");
  const kolvaprof::LoggingOptions o = load(file).options;
  EXPECT_EQ(echo, "profiler> logging start from method call of " + longest.substr(12) + "\n");
  EXPECT_EQ(o.startMethods, std::vector<std::string>{longest.substr(12)});
  EXPECT_TRUE(o.verbose);
  EXPECT_FALSE(o.recordThreadId);
}

TEST_F(Settings, LogfileDirectoryKeepsEveryLevelAskedFor) {
  const std::string expected = dir + "/" + kStamp + "/";
  const kolvaprof::Settings read =
      load(write("dirs.ini", "LogfileDirectory=" + dir + "/\nLogfileDirectory=" + dir +
                                 "\nLogfileDirectory=" + dir + "/missing/deeper\n"));
  const std::string deeper = dir + "/missing/deeper/" + kStamp + "/";
  EXPECT_EQ(echo, "profiler> output logfile in " + expected + "\n"
                  "profiler> output logfile in " + expected + "\n"
                  "profiler> output logfile in " + deeper + "\n");
  EXPECT_EQ(read.options.logDirectory, deeper);
  EXPECT_EQ(read.directoriesToMake, (std::vector<std::string>{expected, expected, deeper}));
}

TEST_F(Settings, WhichFileIsRead) {
  EXPECT_EQ(load(dir + "/absent.ini").options.logDirectory, std::string(kStamp) + "/");
  EXPECT_EQ(echo, "");

  write("profiler.ini", "RecordThreadID=1\n");
  EXPECT_TRUE(load("").options.recordThreadId);
  EXPECT_EQ(echo, "profiler> record thread ID.\n");
  write("named.ini", "RecordMethodCallCount=1\n");
  EXPECT_TRUE(load("named.ini").options.recordMethodCallCount);
  EXPECT_EQ(echo, "profiler> record method call count.\n");
}

// The keys the reader of the settings knows are the keys the README's table
// documents, so that a new setting cannot be added without its row.
TEST(SettingKeys, AreTheDocumentedOnes) {
  std::ifstream readme(std::string(KOLVAPROF_SOURCE_DIR) + "/README.md");
  const std::string text((std::istreambuf_iterator<char>(readme)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  for (const std::string& key : kolvaprof::settingKeys()) {
    EXPECT_NE(text.find("\n| `" + key + "` |"), std::string::npos) << key;
  }
}

// run.json names every key with the value in force, defaults included, in
// the form a settings file gives it, so that the file can be written again.
TEST(SettingsInForce, EveryKeyAsAFileWouldGiveIt) {
  std::istringstream file(
      "LogfileDirectory=logs/deep\nCompressLogfile=1\nRecordTime=yes\nMethodFilter=A.run\n"
      "MethodFilter=B.*\nReceiverTags=2\nCaptureMode=bytecode\nFilterMode=1\nRecordCallerLocation=2\n");
  const auto inForce = kolvaprof::settingsInForce(kolvaprof::readSettings(file, kStamp).options);
  const auto defaults = kolvaprof::settingsInForce(kolvaprof::defaultSettings(kStamp).options);
  ASSERT_EQ(inForce.size(), kolvaprof::settingKeys().size());
  const std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> expected = {
      {"LogfileDirectory", {{"logs/deep"}, {""}}},
      {"CompressLogfile", {{"1"}, {"0"}}},
      {"RecordTime", {{"0"}, {"0"}}},
      {"MethodFilter", {{"A.run", "B.*"}, {}}},
      {"ReceiverTags", {{"2"}, {"1"}}},
      {"CaptureMode", {{"bytecode"}, {"events"}}},
      {"FilterMode", {{"1"}, {"0"}}},
      {"RecordCallerLocation", {{"2"}, {"0"}}},
      {"SeparateLogfilePerThread", {{"1"}, {"1"}}},
      {"StartMethod", {{}, {}}},
  };
  for (std::size_t i = 0; i < inForce.size(); ++i) {
    EXPECT_EQ(inForce[i].key, kolvaprof::settingKeys()[i]);
    EXPECT_EQ(defaults[i].key, inForce[i].key);
    const auto want = expected.find(inForce[i].key);
    if (want == expected.end()) continue;
    EXPECT_EQ(inForce[i].values, want->second.first) << inForce[i].key;
    EXPECT_EQ(defaults[i].values, want->second.second) << inForce[i].key;
  }
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
