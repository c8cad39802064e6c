// The kolvaprof command without a JVM: its command line, the settings it
// hands the agent, and how it reads what processes and the attach protocol
// tell it.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "kolvaprof/attach_client.h"
#include "kolvaprof/command_line.h"
#include "kolvaprof/local_jvms.h"
#include "kolvaprof/run_directory.h"

namespace kolvaprof::command {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

CommandLine parse(std::vector<std::string> words) {
  words.insert(words.begin(), "kolvaprof");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineTest, ParsesEveryVerb) {
  struct Case {
    std::vector<std::string> words;
    Verb verb;
    Pairs pairs;
    std::vector<std::string> java;
    int pid;
    std::optional<double> seconds;
    std::string library;
  };
  const std::vector<Case> cases = {
      {{"run", "--", "java", "-jar", "app.jar"}, Verb::Run, {}, {"java", "-jar", "app.jar"}, 0, {}, ""},
      // pairs trimmed, the program keeps its own `--` and `=`
      {{"run", "RecordTime = 1", "ClassFilter=a=b", "--", "java", "Main", "--", "x=y"},
       Verb::Run, {{"RecordTime", "1"}, {"ClassFilter", "a=b"}}, {"java", "Main", "--", "x=y"}, 0, {}, ""},
      {{"--lib", "/x/lib.so", "run", "--", "java"}, Verb::Run, {}, {"java"}, 0, {}, "/x/lib.so"},
      {{"attach", "42", "--for", "2.5", "FilterMode=1"}, Verb::Attach, {{"FilterMode", "1"}}, {}, 42, 2.5, ""},
      {{"attach", "--lib", "l.so", "7"}, Verb::Attach, {}, {}, 7, {}, "l.so"},
      {{"detach", "42"}, Verb::Detach, {}, {}, 42, {}, ""},
      {{"list"}, Verb::List, {}, {}, 0, {}, ""},
      {{"--version"}, Verb::Version, {}, {}, 0, {}, ""},
      {{}, Verb::Help, {}, {}, 0, {}, ""},
      {{"attach", "--help"}, Verb::Help, {}, {}, 0, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const CommandLine line = parse(c.words);
    EXPECT_EQ(line.verb, c.verb);
    EXPECT_EQ(line.settings.pairs, c.pairs);
    EXPECT_EQ(line.javaCommand, c.java);
    EXPECT_EQ(line.pid, c.pid);
    EXPECT_EQ(line.seconds, c.seconds);
    EXPECT_EQ(line.library, c.library);
    if (c.verb == Verb::Help) {
      EXPECT_NE(line.helpText.find("attach"), std::string::npos);
    }
  }
}

TEST(CommandLineTest, RefusesWhatItCannotUnderstand) {
  const std::vector<std::vector<std::string>> cases = {
      {"run"},                                   // no program
      {"run", "--"},                             // an empty program
      {"run", "RecordTime", "--", "java"},       // not Key=Value
      {"run", "=1", "--", "java"},               // no key
      {"run", "MethodFilter=" + std::string(300, 'm'), "--", "java"},  // longer than the agent reads
      {"run", "--settings", "/no/such/file.ini", "--", "java"},
      {"attach"},                                // no pid
      {"attach", "abc"},
      {"attach", "-3"},
      {"attach", "42", "--for", "0"},
      {"attach", "42", "--", "java"},            // `--` is run's
      {"detach", "42", "43"},
      {"frobnicate"},
  };
  for (const auto& words : cases) {
    SCOPED_TRACE(::testing::PrintToString(words));
    EXPECT_THROW(parse(words), UsageError);
  }
}

TEST(SettingsMergeTest, PairsWinAndTheAgentReadsThemFirst) {
  struct Case {
    std::string file;
    Pairs pairs;
    std::string merged;
  };
  const std::string longLine(300, 'x');
  const std::vector<Case> cases = {
      {"", {}, ""},
      {"A=1\n; comment\n[section]\n", {}, "A=1\n; comment\n[section]\n"},
      // a pair replaces every line of its key, blanks around the key too
      {"RecordTime=0\n  RecordTime =0\nVerbose=1", {{"RecordTime", "1"}}, "RecordTime=1\nVerbose=1\n"},
      // list keys: pairs replace the file's patterns and add up among themselves
      {"PackageFilter=a\nPackageFilter=b\n", {{"PackageFilter", "c"}, {"PackageFilter", "d"}},
       "PackageFilter=c\nPackageFilter=d\n"},
      // a commented-out key is no line of that key
      {";RecordTime=0\n", {{"RecordTime", "1"}}, "RecordTime=1\n;RecordTime=0\n"},
      // the agent stops at a long line: so does the copy, and the pairs stay readable
      {"A=1\n" + longLine + "\nB=2\n", {{"C", "3"}}, "C=3\nA=1\n"},
      // CRLF lines keep their CR, which the agent trims
      {"RecordTime=0\r\nVerbose=1\r\n", {{"RecordTime", "1"}}, "RecordTime=1\nVerbose=1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(mergeSettings(c.file, c.pairs), c.merged);
  }
  const std::string merged = mergeSettings("LogfileDirectory=a\nLogfileDirectory = b \n", {});
  EXPECT_EQ(lastSettingValue(merged, "LogfileDirectory"), "b");
  EXPECT_EQ(lastSettingValue(";LogfileDirectory=a\n", "LogfileDirectory"), std::nullopt);
  EXPECT_EQ(unknownKeys({{"RecordTime", "1"}, {"RecordTim", "1"}, {"RecordTim", "2"}}),
            std::vector<std::string>{"RecordTim"});
  EXPECT_EQ(javaCommandWithAgent({"java", "-cp", "c", "Main"}, "/l.so", "/s.ini"),
            (std::vector<std::string>{"java", "-agentpath:/l.so=/s.ini", "-cp", "c", "Main"}));
}

TEST(ProcessFactsTest, ReadsVersionsOptionsAndMainClasses) {
  const std::vector<std::pair<std::string, std::optional<int>>> versions = {
      {"17.0.9", 17}, {"25", 25}, {"21-ea", 21}, {"1.8.0_292", 8}, {"11.0.2+9", 11}, {"", std::nullopt},
      {"abc", std::nullopt}, {"1.", std::nullopt}};
  for (const auto& [text, version] : versions) EXPECT_EQ(javaFeatureVersion(text), version) << text;

  EXPECT_FALSE(attachDisabled({"java", "-Xmx1g", "Main"}));
  EXPECT_TRUE(attachDisabled({"java", "-XX:+DisableAttachMechanism", "Main"}));
  EXPECT_FALSE(attachDisabled({"-XX:+DisableAttachMechanism", "-XX:-DisableAttachMechanism"}));

  const std::vector<std::pair<std::vector<std::string>, std::string>> mains = {
      {{"java", "-cp", "a:b", "-Xmx1g", "org.x.Main", "arg"}, "org.x.Main"},
      {{"/usr/bin/java", "-jar", "app.jar", "x"}, "-jar app.jar"},
      {{"java", "--module-path", "mods", "-m", "mod/org.x.Main"}, "-m mod/org.x.Main"},
      {{"java", "--module=mod/org.x.Main"}, "-m mod/org.x.Main"},
      {{"java", "-Dk=v", "@args", "--add-opens", "a/b=c", "Main"}, "Main"},
      {{"java", "-version"}, "?"},
  };
  for (const auto& [words, main] : mains) EXPECT_EQ(mainClassOf(words), main) << main;
}

TEST(AttachReplyTest, ReadsStatusAndAgentValue) {
  struct Case {
    std::string text;
    int status;
    std::optional<int> agentStatus;
  };
  const std::vector<Case> cases = {
      {"0\n0\n", 0, 0},                                  // JDK 17
      {"0\nreturn code: 0\n", 0, 0},                     // later JDKs
      {"0\nreturn code: -1\n", 0, -1},
      {"0\n3\n", 0, 3},
      {"0\nAgent_OnAttach not found\n", 0, std::nullopt},
      {"0\n-1\nAgent_OnAttach is not available in x.so\n", 0, std::nullopt},  // JDK 17
      {"100\nAgent library not found\n", 100, std::nullopt},
      {"", -1, std::nullopt},
      {"garbage", -1, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const AttachReply reply = parseAttachReply(c.text);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(parseLoadReply(reply).agentStatus, c.agentStatus);
  }
}

TEST(RunDirectoryTest, NamesAndOrder) {
  for (const std::string name : {"20261207153012", "20261207153012-2", "20261207153012-10"})
    EXPECT_TRUE(isRunDirectoryName(name)) << name;
  for (const std::string name : {"2026120715301", "20261207153012-", "20261207153012x", "logs", ""})
    EXPECT_FALSE(isRunDirectoryName(name)) << name;
  EXPECT_TRUE(runDirectoryBefore("20261207153012", "20261207153012-2"));
  EXPECT_TRUE(runDirectoryBefore("20261207153012-9", "20261207153012-10"));
  EXPECT_TRUE(runDirectoryBefore("20261207153012-10", "20261207153013"));
}

}  // namespace
}  // namespace kolvaprof::command
