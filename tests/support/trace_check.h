#pragma once

// Checks whole traces record by record, text and binary alike: every record
// well formed, every thread's calls nesting, call numbers rising within a
// thread and unique across the run, and the entries of each method counted,
// so that the counts can be held against what the program says it did.
// Records are read by the format library; the checks are kept cheap, since
// the traces run to millions of records.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/binary_record.h"
#include "format/index_line.h"
#include "format/text_line.h"

namespace kolvaprof::testing {

struct RecordFields {
  bool callNumber = false;
  bool threadNumber = false;
  RecordLayout layout() const { return {callNumber, threadNumber}; }
};

class TraceCheck {
 public:
  explicit TraceCheck(RecordFields fields, std::string package = "itest.reliability.")
      : fields(fields), package(std::move(package)) {}

  // One log file. `perThread`: the file belongs to one thread alone.
  // `allowCut`: the file may end inside a record (a killed process), which
  // is then counted in cutRecords and otherwise ignored.
  void addText(const std::string& file, const std::string& content, bool perThread, bool allowCut) {
    std::string_view rest(content);
    FileState state{file, perThread, -static_cast<int32_t>(++files)};
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      if (end == std::string_view::npos) {
        if (allowCut)
          ++cutRecords;
        else
          problem(file, "last line not terminated");
        break;
      }
      textLine(state, rest.substr(0, end));
      rest.remove_prefix(end + 1);
    }
  }

  void addBinary(const std::string& file, const std::string& content, bool perThread, bool allowCut) {
    const RecordLayout layout = fields.layout();
    const std::size_t size = layout.bytes();
    if (content.size() % size != 0) {
      if (allowCut)
        ++cutRecords;
      else
        problem(file, "size " + std::to_string(content.size()) + " is not a whole number of records");
    }
    FileState state{file, perThread, -static_cast<int32_t>(++files)};
    for (std::size_t at = 0; at + size <= content.size(); at += size) {
      const BinaryRecord r = decodeRecord(content.data() + at, layout);
      Thread& t = threadOf(state, r.thread);
      if (r.method < 0 || r.tag < 0 || (r.isExit() && (r.tag != 0 || r.callNumber != 0))) {
        problem(file, "bad record at byte " + std::to_string(at));
        continue;
      }
      if (r.isExit()) {
        if (r.depth != t.depth)
          problem(file, "exit at depth " + std::to_string(r.depth) + ", open " + std::to_string(t.depth));
        exit(state, t, false);
      } else {
        if (r.depth != t.depth + 1)
          problem(file, "entry at depth " + std::to_string(r.depth) + ", open " + std::to_string(t.depth));
        entry(state, t, "#" + std::to_string(r.method), r.callNumber);
      }
    }
  }

  // Index.dat: "Thread N="name"" and "Method N=ret pkg.Class.name(params){".
  void addIndex(const std::string& content) {
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
      const IndexLine l = parseIndexLine(line);
      if (l.fault != IndexLineFault::None) {
        problem("Index.dat", "malformed line: " + line);
      } else if (l.kind == IndexLine::Kind::Thread) {
        nameThread("Index.dat", l.number, std::string(l.threadName));
      } else {
        methodNames["#" + std::to_string(l.number)] =
            std::string(l.method.className) + "." + std::string(l.method.methodName);
      }
    }
  }

  // Entries per method ("Load.leaf"), binary method numbers named through
  // the index.
  std::map<std::string, long> entriesPerMethod() const {
    std::map<std::string, long> named;
    for (const auto& [key, count] : entries) {
      const auto found = methodNames.find(key);
      named[found == methodNames.end() ? key : found->second] += count;
    }
    return named;
  }

  // No problem seen; with `complete`, every call closed and the call numbers
  // exactly 1..(number of entries).
  ::testing::AssertionResult ok(bool complete) const {
    std::ostringstream out;
    for (const std::string& p : problems) out << p << "\n";
    if (problemCount > problems.size()) out << (problemCount - problems.size()) << " more problems\n";
    std::set<std::string> names;
    for (const auto& [number, t] : threads) {
      if (complete && t.depth != 0) out << "thread " << number << " ends with " << t.depth << " open calls\n";
      if (fields.threadNumber && !t.named && (complete || hasIndexOrText))
        out << "thread " << number << " has no name\n";
      if (t.named && !names.insert(t.name).second) out << "name " << t.name << " given twice\n";
    }
    if (fields.callNumber) {
      std::vector<int64_t> sorted = callNumbers;
      std::sort(sorted.begin(), sorted.end());
      if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) out << "a call number repeats\n";
      if (complete && !sorted.empty() &&
          (sorted.front() != 1 || sorted.back() != static_cast<int64_t>(sorted.size())))
        out << "call numbers are not 1.." << sorted.size() << "\n";
    }
    if (out.str().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << out.str();
  }

  struct Thread {
    std::string name;
    bool named = false;
    std::string file;
    long depth = 0;
    int64_t lastCall = 0;
    long records = 0;
  };

  RecordFields fields;
  std::string package;                // of every method in a text entry, e.g. "itest.reliability."
  std::map<int32_t, Thread> threads;  // by thread number; negative: one per file without numbers
  std::map<std::string, long> entries;
  std::map<std::string, std::string> methodNames;  // "#N" -> "Class.method"
  std::vector<int64_t> callNumbers;
  long records = 0;
  long exceptionExits = 0;
  long cutRecords = 0;

 private:
  struct FileState {
    std::string file;
    bool perThread;
    int32_t unnumbered;  // stands for the thread of a file without thread numbers
    bool hasThread = false;
    int32_t thread = 0;
    long lineNumber = 0;
  };

  void problem(const std::string& file, const std::string& what) {
    if (++problemCount <= 10) problems.push_back(file + ": " + what);
  }

  void nameThread(const std::string& file, int64_t number, const std::string& name) {
    Thread& t = threads[static_cast<int32_t>(number)];
    if (t.named) problem(file, "thread " + std::to_string(number) + " named twice");
    t.named = true;
    t.name = name;
    hasIndexOrText = true;
  }

  Thread& threadOf(FileState& state, int32_t thread) {
    if (!fields.threadNumber) thread = state.unnumbered;
    if (state.perThread) {
      if (!state.hasThread) {
        state.hasThread = true;
        state.thread = thread;
        if (threads.count(thread) && !threads[thread].file.empty())
          problem(state.file, "thread " + std::to_string(thread) + " also in " + threads[thread].file);
        threads[thread].file = state.file;
      } else if (thread != state.thread) {
        problem(state.file,
                "thread " + std::to_string(thread) + " in the file of " + std::to_string(state.thread));
      }
    }
    return threads[thread];
  }

  void entry(FileState& state, Thread& t, const std::string& method, int64_t call) {
    ++records;
    ++t.records;
    ++t.depth;
    ++entries[method];
    if (fields.callNumber) {
      if (call <= t.lastCall)
        problem(state.file, "call number " + std::to_string(call) + " after " + std::to_string(t.lastCall));
      t.lastCall = call;
      callNumbers.push_back(call);
    }
  }

  void exit(FileState& state, Thread& t, bool byException) {
    ++records;
    ++t.records;
    if (--t.depth < 0) {
      problem(state.file, "exit without entry");
      t.depth = 0;
    }
    exceptionExits += byException;
  }

  void textLine(FileState& state, std::string_view text) {
    ++state.lineNumber;
    const auto bad = [&] {
      problem(state.file, "malformed line " + std::to_string(state.lineNumber) + ": " + std::string(text));
    };
    const TextLine line = parseTextLine(text);
    if (line.kind == TextLine::Kind::Stray) return bad();
    if (line.kind == TextLine::Kind::Header) {
      if (state.perThread && state.lineNumber != 1) problem(state.file, "header not on the first line");
      threadOf(state, *line.thread);
      nameThread(state.file, *line.thread, std::string(line.threadName));
      return;
    }
    if (line.thread.has_value() != fields.threadNumber) return bad();
    const int32_t thread = line.thread.value_or(-1);
    if (fields.threadNumber && (!threads.count(thread) || !threads[thread].named))
      problem(state.file, "record of thread " + std::to_string(thread) + " before its header");
    Thread& t = threadOf(state, thread);
    if (line.kind == TextLine::Kind::Exit) {
      if (line.exception && (line.exception->empty() || line.exception->find(' ') != std::string_view::npos))
        return bad();
      return exit(state, t, line.exception.has_value());
    }
    if (line.callNumber.has_value() != fields.callNumber || (line.callNumber && *line.callNumber < 1) ||
        line.location || line.receiverTag < 0 || !inPackage(line.method))
      return bad();
    entry(state, t, std::string(line.method.className) + "." + std::string(line.method.methodName),
          line.callNumber.value_or(0));
  }

  // Whether `package` (such as "itest.reliability.") begins the class's
  // qualified name.
  bool inPackage(const MethodText& method) const {
    const std::string qualified = std::string(method.packageName) + "." + std::string(method.className);
    return qualified.compare(0, package.size(), package) == 0;
  }

  std::vector<std::string> problems;
  std::size_t problemCount = 0;
  int files = 0;
  bool hasIndexOrText = false;
};

// "calls <method> <count>" lines of a program's output, keyed "Class.method".
inline std::map<std::string, long> reportedCalls(const std::string& className, const std::string& output) {
  std::map<std::string, long> calls;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    std::string word, method;
    long count = 0;
    if (in >> word >> method >> count && word == "calls") calls[className + "." + method] = count;
  }
  return calls;
}

}  // namespace kolvaprof::testing
