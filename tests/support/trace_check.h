#pragma once

// Checks whole traces record by record, text and binary alike: every record
// well formed, every thread's calls nesting, call numbers rising within a
// thread and unique across the run, and the entries of each method counted,
// so that the counts can be held against what the program says it did.
// Hand-written parsing: the traces run to millions of records.

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

namespace kolvaprof::testing {

struct RecordFields {
  bool callNumber = false;
  bool threadNumber = false;
  std::size_t binaryBytes() const { return 12 + (callNumber ? 4 : 0) + (threadNumber ? 4 : 0); }
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
    const std::size_t size = fields.binaryBytes();
    if (content.size() % size != 0) {
      if (allowCut)
        ++cutRecords;
      else
        problem(file, "size " + std::to_string(content.size()) + " is not a whole number of records");
    }
    FileState state{file, perThread, -static_cast<int32_t>(++files)};
    const auto word = [&content](std::size_t offset) {
      const auto* b = reinterpret_cast<const unsigned char*>(content.data() + offset);
      return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                  static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
    };
    for (std::size_t at = 0; at + size <= content.size(); at += size) {
      int32_t w[5];
      for (std::size_t i = 0; i < size / 4; ++i) w[i] = word(at + 4 * i);
      std::size_t i = 0;
      const int32_t method = w[i++];
      const int32_t tag = w[i++];
      const int64_t call = fields.callNumber ? w[i++] : 0;
      const int32_t depth = w[i++];
      const int32_t thread = fields.threadNumber ? w[i++] : -1;
      Thread& t = threadOf(state, thread);
      if (method < 0 || tag < 0 || (method == 0 && (tag != 0 || call != 0))) {
        problem(file, "bad record at byte " + std::to_string(at));
        continue;
      }
      if (method == 0) {
        if (depth != t.depth)
          problem(file, "exit at depth " + std::to_string(depth) + ", open " + std::to_string(t.depth));
        exit(state, t, false);
      } else {
        if (depth != t.depth + 1)
          problem(file, "entry at depth " + std::to_string(depth) + ", open " + std::to_string(t.depth));
        entry(state, t, "#" + std::to_string(method), call);
      }
    }
  }

  // Index.dat: "Thread N="name"" and "Method N=ret pkg.Class.name(params){".
  void addIndex(const std::string& content) {
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
      std::string_view l(line);
      const std::size_t equals = l.find('=');
      if (l.rfind("Thread ", 0) == 0 && equals != std::string_view::npos && l.size() >= equals + 3 &&
          l[equals + 1] == '"' && l.back() == '"') {
        nameThread("Index.dat", number(l.substr(7, equals - 7)),
                   std::string(l.substr(equals + 2, l.size() - equals - 3)));
      } else if (l.rfind("Method ", 0) == 0 && equals != std::string_view::npos && l.back() == '{') {
        const std::string_view text = l.substr(equals + 1);
        const std::size_t paren = text.find('(');
        const std::size_t space = text.rfind(' ', paren);
        const std::string_view qualified = text.substr(space + 1, paren - space - 1);
        const std::size_t dot = qualified.rfind('.');
        if (paren == std::string_view::npos || dot == std::string_view::npos) {
          problem("Index.dat", "malformed line: " + line);
          continue;
        }
        methodNames["#" + std::string(l.substr(7, equals - 7))] =
            simpleClass(qualified.substr(0, dot)) + std::string(qualified.substr(dot));
      } else {
        problem("Index.dat", "malformed line: " + line);
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

  static int64_t number(std::string_view digits) {
    if (digits.empty() || digits.size() > 18) return -1;
    int64_t n = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return -1;
      n = n * 10 + (c - '0');
    }
    return n;
  }

  static std::string simpleClass(std::string_view qualified) {
    const std::size_t dot = qualified.rfind('.');
    return std::string(dot == std::string_view::npos ? qualified : qualified.substr(dot + 1));
  }

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

  void textLine(FileState& state, std::string_view line) {
    ++state.lineNumber;
    const auto bad = [&] {
      problem(state.file, "malformed line " + std::to_string(state.lineNumber) + ": " + std::string(line));
    };
    if (line.rfind("@thread ", 0) == 0) {
      const std::size_t equals = line.find(" = \"");
      if (equals == std::string_view::npos || line.back() != '"' || line.size() < equals + 5) return bad();
      const int64_t n = number(line.substr(8, equals - 8));
      if (n < 0) return bad();
      if (state.perThread && state.lineNumber != 1) problem(state.file, "header not on the first line");
      threadOf(state, static_cast<int32_t>(n));
      nameThread(state.file, n, std::string(line.substr(equals + 4, line.size() - equals - 5)));
      return;
    }
    int32_t thread = -1;
    if (fields.threadNumber) {
      const std::size_t space = line.find(' ');
      if (line.empty() || line[0] != '@' || space == std::string_view::npos) return bad();
      const int64_t n = number(line.substr(1, space - 1));
      if (n < 0) return bad();
      thread = static_cast<int32_t>(n);
      line.remove_prefix(space + 1);
      if (!threads.count(thread) || !threads[thread].named)
        problem(state.file, "record of thread " + std::to_string(thread) + " before its header");
    }
    Thread& t = threadOf(state, thread);
    if (!line.empty() && line[0] == '}') {
      if (line.size() == 1) return exit(state, t, false);
      if (line[1] != ' ' || line.size() < 3 || line.find(' ', 2) != std::string_view::npos) return bad();
      return exit(state, t, true);
    }
    int64_t call = 0;
    if (fields.callNumber) {
      const std::size_t space = line.find(' ');
      call = space == std::string_view::npos ? -1 : number(line.substr(0, space));
      if (call < 1) return bad();
      line.remove_prefix(space + 1);
    }
    // ret package.Class(tag).method(params){
    const std::size_t space = line.find(' ');
    const std::size_t open = line.find('(');
    const std::size_t close = line.find(").", open);
    const std::size_t params = close == std::string_view::npos ? close : line.find('(', close);
    if (space == std::string_view::npos || open == std::string_view::npos ||
        close == std::string_view::npos || params == std::string_view::npos || space > open ||
        line.size() < 3 || line.substr(line.size() - 2) != "){" ||
        line.substr(space + 1, package.size()) != package ||
        number(line.substr(open + 1, close - open - 1)) < 0)
      return bad();
    entry(state, t,
          simpleClass(line.substr(space + 1, open - space - 1)) + "." +
              std::string(line.substr(close + 2, params - close - 2)),
          call);
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
