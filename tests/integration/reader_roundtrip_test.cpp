// kolvaprof-read on real runs: the text it renders from binary logs is the
// text log of the same program, and both runs check clean.

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "format/index_line.h"
#include "format/text_line.h"
#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

struct ReaderResult {
  int status = -1;
  std::string out;
  std::string err;
};

class ReaderRoundTrip : public JdkTest {
 protected:
  std::string trace(const std::string& label, const std::string& settings) {
    const std::string logs = root.path() + "/" + label;
    makeDirectory(logs);
    const JavaResult result = runWithSettings(
        "LogfileDirectory=" + logs + "\nFilterMode=1\nPackageFilter=itest*\n" + settings, "itest.binary.Workers");
    EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
    return findRunDirectory(logs);
  }

  ReaderResult read(const std::vector<std::string>& args) {
    std::string command = "'" KOLVAPROF_READER "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    const std::string out = root.path() + "/reader.out";
    const std::string err = root.path() + "/reader.err";
    const int raw = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
  }

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
          appendTextEntryLine(text, TextEntry{parsed.method, parsed.receiverTag, withThread,
                                              parsed.thread.value_or(0), false, 0, parsed.location.value_or("")});
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
    for (const bool callNumbers : {false, true}) {
      const std::string label = std::string("bin") + (threadIds ? "-t" : "") + (callNumbers ? "-c" : "");
      SCOPED_TRACE(label);
      const std::string binaryRun = trace(label, ids + "CompressLogfile=1\nRecordMethodCallCount=" +
                                                     (callNumbers ? "1" : "0") + "\n");
      expectClean(binaryRun);
      const std::string rendered = root.path() + "/" + label + "-text";
      const ReaderResult text = read({"text", binaryRun, "-o", rendered});
      ASSERT_EQ(text.status, 0) << text.err;
      EXPECT_EQ(text.err, "");
      EXPECT_EQ(comparable(rendered), expected);
    }
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(ReaderRoundTrip);

}  // namespace
}  // namespace kolvaprof::itest
