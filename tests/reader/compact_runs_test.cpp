// A compact run reads as the binary run of the same records: the records its
// blocks vouch for take a shorter way into the call stream than those read
// from their words, and must still give the same report, problems and
// places included, whatever the records hold.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "format/binary_record.h"
#include "format/compact_block.h"
#include "format/thread_block.h"
#include "reader/reader_fixture.h"

namespace kolvaprof::reader::test {
namespace {

const char kIndex[] =
    "Thread 0=\"main\"\n"
    "Thread 1=\"clerk\"\n"
    "Method 1=void .Main.main(java.lang.String[]){\n"
    "Method 2=void org.demo.Shop.<init>(){\n"
    "Method 3=int org.demo.Cart.add(int){\n";

// One record as the agent writes it: an exit when `method` is 0; `tag` and
// `call` words on an exit are damage the block keeps as written.
struct Rec {
  std::int32_t method;
  std::int32_t tag;
  std::int32_t call;
  std::int64_t depth;
  std::int32_t thread;
  std::int64_t time;  // ms
};

struct OddRun {
  const char* name;
  RecordLayout layout;
  std::vector<Rec> records;
  std::size_t split;       // records in the first block; the rest in a second
  bool virtualThreads;     // in blocks of thread 7 of a .vlog file
  std::size_t problems;    // that check finds, so that the case reaches what it means to
};

std::string fixed(const OddRun& run, std::size_t from, std::size_t to) {
  std::string out;
  unsigned char bytes[kMaxRecordBytes];
  for (std::size_t k = from; k < to; ++k) {
    const Rec& r = run.records[k];
    const std::size_t depth = static_cast<std::size_t>(r.depth);
    const std::size_t used = r.method == 0 && r.tag == 0 && r.call == 0
                                 ? encodeExitRecord(bytes, run.layout, depth, r.thread, r.time * 1000000)
                                 : encodeEntryRecord(bytes, run.layout, r.method, r.tag, r.call, depth, r.thread,
                                                     r.time * 1000000);
    out.append(reinterpret_cast<const char*>(bytes), used);
  }
  return out;
}

std::string compact(const std::string& records, RecordLayout layout) {
  std::vector<unsigned char> block;
  appendCompactBlock(block, reinterpret_cast<const unsigned char*>(records.data()), records.size(), layout);
  return std::string(block.begin(), block.end());
}

// The check report and summary of the run written one way; what only the
// encoding changes (its name, the files' sizes) left out.
std::string readAs(const OddRun& run, bool asCompact) {
  ScratchDir scratch;
  scratch.write("run/Index.dat", kIndex);
  std::string file;
  for (const auto& [from, to] : {std::pair{std::size_t{0}, run.split}, std::pair{run.split, run.records.size()}}) {
    const std::string records = fixed(run, from, to);
    const std::string part = asCompact ? compact(records, run.layout) : records;
    file += run.virtualThreads ? makeThreadBlockHeader(7, "vt", part.size(), to == run.records.size()) + part : part;
  }
  scratch.write(run.virtualThreads ? "run/VirtualThreads.vlog" : "run/main.log", file);
  std::string out;
  for (const char* command : {"check", "summary"}) {
    const RecordLayout& layout = run.layout;
    const CliResult result = runReader({layout.withCallNumber ? "--call-numbers" : "--no-call-numbers",
                                        layout.withThreadNumber ? "--thread-ids" : "--no-thread-ids",
                                        layout.withTime ? "--times" : "--no-times", command,
                                        scratch.path() + "/run", "--no-progress"});
    out += std::to_string(result.status) + "\n" + result.out + result.err;
  }
  out = std::regex_replace(out, std::regex("compact binary logs"), "binary logs");
  out = std::regex_replace(out, std::regex("(run: |note: ).*\n"), "");
  out = std::regex_replace(out, std::regex(scratch.path()), "SCRATCH");
  return std::regex_replace(out, std::regex(R"(\d+ bytes?\b)"), "N bytes");
}

TEST(CompactRun, ReadsAsTheBinaryRunOfItsRecords) {
  const RecordLayout all{true, true, true}, timesOnly{false, false, true}, none{false, false, false};
  const OddRun cases[] = {
      // Two threads taking turns, nested calls, every call closed or left open.
      {"Sound", all,
       {{1, 0, 1, 1, 0, 100}, {2, 5, 2, 2, 0, 150}, {1, 0, 3, 1, 1, 160}, {0, 0, 0, 2, 0, 200},
        {3, 7, 4, 2, 1, 210}, {0, 0, 0, 2, 1, 300}, {2, 5, 5, 2, 0, 310}, {0, 0, 0, 2, 0, 400}},
       5, false, 0},
      // An entry too deep, one shallower than the open calls (which closes
      // them), an exit at the wrong depth and one with nothing open.
      {"DepthsAstray", timesOnly,
       {{1, 0, 0, 1, -1, 10}, {2, 0, 0, 5, -1, 20}, {3, 0, 0, 3, -1, 30}, {2, 0, 0, 2, -1, 40},
        {0, 0, 0, 1, -1, 50}, {0, 0, 0, 1, -1, 60}, {0, 0, 0, 0, -1, 70}, {1, 0, 0, 1, -1, 80},
        {3, 0, 0, 0x80000001, -1, 90}},
       4, false, 5},
      // Times that go back, across the blocks too: each compared with the
      // latest time that did not.
      {"TimeGoesBack", all,
       {{1, 0, 1, 1, 0, 500}, {2, 0, 2, 2, 0, 100}, {0, 0, 0, 2, 0, 300}, {3, 0, 9, 1, 1, 600},
        {3, 0, 3, 2, 0, 200}, {0, 0, 0, 2, 0, 900}, {0, 0, 0, 1, 0, 800}},
       3, false, 4},
      // What a block keeps as written: an exit with words, a negative method
      // number; a method Index.dat lacks, thread numbers below 0 or no Thread
      // line, each checked record by record.
      {"OddWords", all,
       {{1, 0, 1, 1, 0, 1}, {0, 4, 9, 1, 0, 2}, {-3, 0, 2, 1, 0, 3}, {99, 0, 3, 2, 0, 4},
        {2, 0, 4, 1, -5, 5}, {0, 0, 0, 1, -5, 6}, {2, 0, 5, 1, -1, 7}, {1, 0, 6, 1, 4, 8},
        {0, 0, 0, 3, 0, 9}},
       6, false, 8},
      // The same kinds of damage in a virtual thread's blocks, without times.
      {"VirtualThreadBlocks", none,
       {{1, 0, 0, 1, -1, 0}, {2, 0, 0, 3, -1, 0}, {0, 9, 0, 2, -1, 0}, {0, 0, 0, 2, -1, 0},
        {7, 0, 0, 1, -1, 0}, {0, 0, 0, 1, -1, 0}, {0, 0, 0, 1, -1, 0}},
       3, true, 5},
  };
  for (const OddRun& run : cases) {
    SCOPED_TRACE(run.name);
    const std::string binary = readAs(run, false);
    EXPECT_EQ(readAs(run, true), binary);
    const std::smatch problems = [&] {
      std::smatch found;
      std::regex_search(binary, found, std::regex("problems: (none|\\d+)"));
      return found;
    }();
    EXPECT_EQ(problems.str(1), run.problems ? std::to_string(run.problems) : "none") << binary;
  }
}

}  // namespace
}  // namespace kolvaprof::reader::test
