// Compressed logs of a multi-threaded program, decoded and rebuilt into the
// call trees that the text log of the same program shows.

#include <cstdint>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "format/binary_record.h"
#include "format/index_line.h"
#include "format/text_line.h"
#include "integration/java_run.h"

namespace kolvaprof::itest {
namespace {

const char kFilters[] = "FilterMode=1\nPackageFilter=itest.binary\n";
const std::vector<std::string> kThreads{"main", "twin", "twin(2)", "solo"};

// What a reader must be told, since the log does not say it.
struct Layout {
  bool callCount;
  bool threadId;
  RecordLayout format() const { return {callCount, threadId}; }
  std::size_t bytes() const { return format().bytes(); }
};

using Record = BinaryRecord;

std::vector<Record> decodeRecords(const std::string& bytes, Layout layout) {
  EXPECT_EQ(bytes.size() % layout.bytes(), 0u) << "size " << bytes.size();
  std::vector<Record> records;
  for (std::size_t at = 0; at + layout.bytes() <= bytes.size(); at += layout.bytes()) {
    const Record r = decodeRecord(bytes.data() + at, layout.format());
    if (r.isExit()) {
      EXPECT_TRUE(r.tag == 0 && r.callNumber == 0) << "exit record with data";
    }
    records.push_back(r);
  }
  return records;
}

struct Index {
  std::map<int32_t, std::string> methods;  // "void pkg.Class.name(params){"
  std::map<int32_t, std::string> threads;  // the name, unquoted
};

Index readIndex(const std::string& text) {
  EXPECT_TRUE(!text.empty() && text.back() == '\n');
  Index index;
  for (const std::string& line : splitLines(text)) {
    const IndexLine parsed = parseIndexLine(line);
    if (parsed.fault != IndexLineFault::None) {
      ADD_FAILURE() << "malformed index line: " << line;
      continue;
    }
    const bool isMethod = parsed.kind == IndexLine::Kind::Method;
    const std::string value = isMethod ? line.substr(line.find('=') + 1) : std::string(parsed.threadName);
    EXPECT_TRUE((isMethod ? index.methods : index.threads).emplace(parsed.number, value).second)
        << "number named twice: " << line;
  }
  return index;
}

// One thread's records as the text lines of the same calls, checking the
// depths and call numbers on the way.
std::string render(const std::vector<Record>& records, const Index& index, Layout layout) {
  std::string text;
  std::size_t open = 0;
  int32_t lastCall = 0;
  for (const Record& r : records) {
    if (r.isExit()) {
      EXPECT_EQ(r.depth, static_cast<int32_t>(open)) << "exit depth";
      if (open == 0) return text + "unmatched exit\n";
      --open;
      appendTextExitLine(text, false, 0, false, "");
      continue;
    }
    EXPECT_EQ(r.depth, static_cast<int32_t>(++open)) << "entry depth";
    if (layout.callCount) {
      EXPECT_GT(r.callNumber, lastCall) << "call numbers must increase";
    }
    lastCall = r.callNumber;
    const auto method = index.methods.find(r.method);
    if (method == index.methods.end()) {
      ADD_FAILURE() << "method " << r.method << " has no index line";
      continue;
    }
    TextEntry entry;
    entry.method = *parseMethodDeclaration(method->second);
    entry.fields.receiverTag = r.tag;
    appendTextEntryLine(text, entry);
  }
  EXPECT_EQ(open, 0u) << "calls left open";
  return text;
}

// The traces of kThreads, receiver tags renamed by first sight across them.
std::string normalizedTrees(const std::map<std::string, std::string>& byThread) {
  std::vector<std::string> names;
  for (const auto& entry : byThread) names.push_back(entry.first);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            std::set<std::string>(kThreads.begin(), kThreads.end()));
  TraceNormalizer normalize;
  std::string out;
  for (const std::string& name : kThreads) {
    const auto found = byThread.find(name);
    out += "== " + name + "\n" + normalize(found == byThread.end() ? "" : found->second);
  }
  return out;
}

class BinaryTrace : public JdkTest {
 protected:
  std::string run(const std::string& label, const std::string& settings) {
    const std::string logs = root.path() + "/" + label;
    makeDirectory(logs);
    const JavaResult result =
        runWithSettings("LogfileDirectory=" + logs + "\n" + kFilters + settings, "itest.binary.Workers");
    EXPECT_EQ(result.exitStatus, 0) << result.stderrText;
    EXPECT_NE(result.stdoutText.find("workers done\n"), std::string::npos);
    return findRunDirectory(logs);
  }

  // The text traces per thread, exception names dropped (binary exits carry
  // none); made once per JDK.
  const std::string& textTrees() {
    static std::map<std::string, std::string> cache;
    std::string& trees = cache[GetParam()];
    if (!trees.empty()) return trees;
    const std::string runDir = run("text", "");
    std::map<std::string, std::string> byThread;
    // The exception name is process-wide, so another thread's may stand here.
    static const std::regex exceptionExit("\\} .+");
    int exceptionExits = 0;
    for (const std::string& file : listDirectory(runDir)) {
      std::string text = readFile(runDir + "/" + file);
      EXPECT_TRUE(isBalancedTrace(text, true)) << file;
      for (const std::string& line : splitLines(text)) exceptionExits += std::regex_match(line, exceptionExit);
      byThread[file.substr(0, file.size() - 4)] =
          std::regex_replace(text, std::regex("^\\} .*$", std::regex::multiline), "}");
    }
    // twin, twin(2) and solo each unwind 2, 3 and 4 frames by an exception.
    EXPECT_EQ(exceptionExits, 9);
    return trees = normalizedTrees(byThread);
  }

  // Decodes one compressed run and checks it against the index and the text trace.
  void checkBinaryRun(const std::string& runDir, Layout layout, bool shared) {
    const Index index = readIndex(readFile(runDir + "/Index.dat"));
    std::map<std::string, std::vector<Record>> byThread;
    const std::string sharedName = runDir.substr(runDir.rfind('/') + 1) + ".log";
    for (const std::string& file : listDirectory(runDir)) {
      if (file == "Index.dat") continue;
      const std::vector<Record> records = decodeRecords(readFile(runDir + "/" + file), layout);
      if (shared) {
        ASSERT_EQ(file, sharedName);
        for (const Record& r : records) {
          const auto thread = index.threads.find(r.thread);
          ASSERT_NE(thread, index.threads.end()) << "thread " << r.thread << " has no index line";
          byThread[thread->second].push_back(r);
        }
        continue;
      }
      const std::string name = file.substr(0, file.size() - 4);
      for (const Record& r : records) {
        if (!layout.threadId) break;
        const auto thread = index.threads.find(r.thread);
        ASSERT_TRUE(thread != index.threads.end() && thread->second == name) << "thread word in " << file;
      }
      byThread[name] = records;
    }

    std::map<std::string, std::string> rendered;
    std::set<int32_t> methodsUsed;
    std::set<int32_t> callNumbers;
    std::size_t entries = 0;
    for (const auto& [name, records] : byThread) {
      rendered[name] = render(records, index, layout);
      for (const Record& r : records) {
        if (r.method == 0) continue;
        ++entries;
        methodsUsed.insert(r.method);
        callNumbers.insert(r.callNumber);
      }
    }
    EXPECT_EQ(normalizedTrees(rendered), textTrees());
    if (layout.callCount) {
      EXPECT_EQ(callNumbers.size(), entries) << "call numbers repeat across threads";
    }

    // Method numbers: 1..N without gaps, exactly the ones the records use.
    std::set<int32_t> named;
    for (const auto& entry : index.methods) named.insert(entry.first);
    EXPECT_EQ(named, methodsUsed);
    EXPECT_EQ(named.empty() ? 0 : *named.rbegin(), static_cast<int32_t>(named.size()));

    if (!layout.threadId) {
      EXPECT_TRUE(index.threads.empty());
      return;
    }
    // Thread numbers 0..M-1 in order of context creation, names unique, the
    // unnamed ones counted from 1, a repeated name counted.
    std::map<std::string, int32_t> numberOf;
    std::set<int> unknownCounts;
    static const std::regex unknown("UnknownThread([0-9]+)");
    for (const auto& [number, name] : index.threads) {
      EXPECT_TRUE(numberOf.emplace(name, number).second) << "name given twice: " << name;
      std::smatch m;
      if (std::regex_match(name, m, unknown)) unknownCounts.insert(std::stoi(m[1]));
    }
    EXPECT_EQ(index.threads.rbegin()->first + 1, static_cast<int32_t>(index.threads.size()));
    if (!unknownCounts.empty()) {
      EXPECT_EQ(*unknownCounts.begin(), 1);
      EXPECT_EQ(*unknownCounts.rbegin(), static_cast<int>(unknownCounts.size()));
    }
    ASSERT_TRUE(numberOf.count("main") && numberOf.count("twin") && numberOf.count("twin(2)") && numberOf.count("solo"));
    EXPECT_LT(numberOf["twin"], numberOf["twin(2)"]);
    EXPECT_LT(numberOf["twin(2)"], numberOf["solo"]);
  }
};

TEST_P(BinaryTrace, EveryRecordLayoutRebuildsTheTextCallTrees) {
  // The caller location must not change the record layout in this mode.
  struct Case {
    Layout layout;
    const char* callerLocation;
  };
  const Case cases[] = {
      {{false, false}, "0"}, {{false, true}, "1"}, {{true, false}, "2"}, {{true, true}, "0"}};
  for (const Case& c : cases) {
    const std::string label = "bin" + std::to_string(c.layout.bytes());
    SCOPED_TRACE(label + " caller location " + c.callerLocation + (c.layout.threadId ? " with" : " without") +
                 " thread numbers");
    const std::string runDir =
        run(label + (c.layout.threadId ? "t" : ""),
            std::string("CompressLogfile=1\nRecordCallerLocation=") + c.callerLocation +
                "\nRecordMethodCallCount=" + (c.layout.callCount ? "1" : "0") +
                "\nRecordThreadID=" + (c.layout.threadId ? "1" : "0") + "\n");
    checkBinaryRun(runDir, c.layout, false);
  }
}

TEST_P(BinaryTrace, SharedFileSplitsByThreadNumberIntoTheTextCallTrees) {
  for (const bool callCount : {false, true}) {
    SCOPED_TRACE(callCount ? "with call numbers" : "without call numbers");
    const std::string runDir = run(callCount ? "shared20" : "shared16",
                                   std::string("CompressLogfile=1\nSeparateLogfilePerThread=0\nRecordThreadID=1\n") +
                                       "RecordMethodCallCount=" + (callCount ? "1" : "0") + "\n");
    checkBinaryRun(runDir, {callCount, true}, true);
  }
}

KOLVAPROF_RUN_ON_EVERY_JDK(BinaryTrace);

}  // namespace
}  // namespace kolvaprof::itest
