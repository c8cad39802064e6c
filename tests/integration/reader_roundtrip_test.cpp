// kolvaprof-read on real runs: the text it renders from binary logs is the
// text log of the same program, and both runs check clean.

#include <cstdlib>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "format/index_line.h"
#include "format/name_escape.h"
#include "format/text_line.h"
#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

class ReaderRoundTrip : public JdkTest {
 protected:
  std::string trace(const std::string& label, const std::string& settings,
                    const std::string& mainClass = "itest.binary.Workers", const std::vector<std::string>& args = {}) {
    const std::string logs = root.path() + "/" + label;
    makeDirectory(logs);
    const JavaResult result = runWithSettings(
        "LogfileDirectory=" + logs + "\nFilterMode=1\nPackageFilter=itest*\n" + settings, mainClass, args);
    EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
    return findRunDirectory(logs);
  }

  ReaderResult read(const std::vector<std::string>& args) { return runReader(args, root.path()); }

  void expectClean(const std::string& runDir) {
    const ReaderResult check = read({"check", runDir});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("calls still open at the end: none\nproblems: none\nresult: clean\n"),
              std::string::npos)
        << check.out;
  }

  // The files of a run, one after another in name order, with receiver tags
  // and thread numbers renamed by first sight. Binary exits carry no
  // exception and binary runs of another setting no call numbers, so both
  // are dropped.
  std::string comparable(const std::string& dir) {
    TraceNormalizer normalize;
    std::string out;
    for (const std::string& file : listDirectory(dir)) {
      if (file == kIndexFileName) continue;
      std::string text;
      for (const std::string& line : splitLines(readFile(dir + "/" + file))) {
        const TextLine parsed = parseTextLine(line);
        const bool withThread = parsed.thread.has_value();
        if (parsed.kind == TextLine::Kind::Exit) {
          appendTextExitLine(text, withThread, parsed.thread.value_or(0), false, "");
        } else if (parsed.kind == TextLine::Kind::Entry) {
          appendTextEntryLine(text, TextEntry{parsed.method, {parsed.receiverTag, withThread,
                                               parsed.thread.value_or(0), false, 0, parsed.location.value_or(""),
                                               std::nullopt}});
        } else {
          text += line + "\n";
        }
      }
      out += "== " + file + "\n" + normalize(text);
    }
    return out;
  }
};

TEST_P(ReaderRoundTrip, BinaryRunsReadAsTheTextRunOfTheSameProgram) {
  for (const bool threadIds : {false, true}) {
    const std::string ids = std::string("RecordThreadID=") + (threadIds ? "1" : "0") + "\n";
    const std::string textRun = trace(threadIds ? "text-t" : "text", ids);
    expectClean(textRun);
    const std::string expected = comparable(textRun);
    EXPECT_NE(expected.find("== solo.log\n"), std::string::npos) << expected;
    // Compact blocks in two of the layouts: the same records as fixed ones.
    const std::pair<bool, bool> encodings[] = {{false, false}, {true, false}, {threadIds, true}};
    for (const auto& [callNumbers, compact] : encodings) {
      const std::string label = std::string(compact ? "compact" : "bin") + (threadIds ? "-t" : "") +
                                (callNumbers ? "-c" : "");
      SCOPED_TRACE(label);
      const std::string binaryRun = trace(label, ids + "CompressLogfile=" + (compact ? "2" : "1") +
                                                     "\nRecordMethodCallCount=" + (callNumbers ? "1" : "0") + "\n");
      expectClean(binaryRun);
      const std::string rendered = root.path() + "/" + label + "-text";
      const ReaderResult text = read({"text", binaryRun, "-o", rendered});
      ASSERT_EQ(text.status, 0) << text.err;
      // The one line that says where the layout came from.
      EXPECT_THAT(splitLines(text.err),
                  ::testing::ElementsAre(::testing::StartsWith("kolvaprof-read: record layout from run.json: ")));
      EXPECT_EQ(comparable(rendered), expected);
    }
  }
}

// A thread name with a quote, a backslash and line feeds that would forge
// lines of Index.dat or of a shared text log were it written as it is: the
// run checks clean (a forged line would name a method or thread twice) and
// the reader gives the name back whole.
TEST_P(ReaderRoundTrip, OddThreadNameComesBackWhole) {
  const std::string name = "x\"\\y\nMethod 1=void forged.Evil.pwned(){\nThread 0=\"forged";
  const std::pair<const char*, const char*> runs[] = {{"binary", "CompressLogfile=1\n"},
                                                      {"shared", "SeparateLogfilePerThread=0\n"}};
  for (const auto& [label, settings] : runs) {
    SCOPED_TRACE(label);
    const std::string run =
        trace(label, std::string("RecordThreadID=1\n") + settings, "itest.reliability.OddNames", {name});
    expectClean(run);
    const ReaderResult text = read({"text", run});
    ASSERT_EQ(text.status, 0) << text.err;
    std::vector<std::string> names;
    for (const std::string& line : splitLines(text.out)) {
      const TextLine parsed = parseTextLine(line);
      if (parsed.kind == TextLine::Kind::Header) names.push_back(parsed.threadName);
    }
    EXPECT_THAT(names, ::testing::Contains(name)) << text.out;
    const ReaderResult summary = read({"summary", run});
    EXPECT_NE(summary.out.find("  " + escapeName(name) + " (thread "), std::string::npos) << summary.out;
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(ReaderRoundTrip);

}  // namespace
}  // namespace kolvaprof::itest
