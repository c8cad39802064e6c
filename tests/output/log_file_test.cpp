#include "output/log_file.h"
#include "output/thread_log_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "format/binary_record.h"
#include "format/compact_block.h"
#include "support/temp_dir_test.h"

namespace kolvaprof {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBuffer = LogFile::kBufferSize;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Every entry below the root, relative, directories with a trailing slash.
std::set<std::string> listTree(const std::string& root) {
  std::set<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(entry.path(), root).string();
    entries.insert(entry.is_directory() ? relative + "/" : relative);
  }
  return entries;
}

// A record of exactly `length` bytes whose content names its index.
std::string record(int index, std::size_t length) {
  std::string text = std::to_string(index) + ":";
  text.resize(length - 1, static_cast<char>('A' + index % 26));
  return text + "\n";
}

// Every kind of log file buffers, names, creates and fails alike; only
// the shared one takes records from many threads.
template <typename File>
class LogFileTest : public TempDirTest {};

using LogFileKinds = testing::Types<LogFile, ThreadLogFile>;
TYPED_TEST_SUITE(LogFileTest, LogFileKinds);

using SharedLogFileTest = LogFileTest<LogFile>;

TYPED_TEST(LogFileTest, FileIsCreatedAtFirstWriteAndFilledAtDestruction) {
  { TypeParam unused(this->root, "unused", ".log"); }
  const std::string path = this->root + "main.log";
  const char bytes[] = {'\x01', '\0', '\r', '\n'};
  {
    TypeParam file(this->root, "main", ".log");
    EXPECT_EQ(file.fileName(), path);
    EXPECT_FALSE(fs::exists(path));

    file.write("void a.B(1).run(){\n");
    EXPECT_EQ(fs::file_size(path), 0u) << "created at the first write, record still buffered";
    file.write(bytes, sizeof bytes);
    file.write(std::string("}\nline two\n"));
  }
  EXPECT_EQ(readFile(path),
            "void a.B(1).run(){\n" + std::string(bytes, sizeof bytes) + "}\nline two\n");
  EXPECT_EQ(listTree(this->root), std::set<std::string>{"main.log"});
}

TYPED_TEST(LogFileTest, ExactlyOneBufferStaysInMemoryAndTheNextByteSendsBoth) {
  const std::string path = this->root + "main.log";
  std::string expected;
  {
    TypeParam file(this->root, "main", ".log");
    for (int i = 0; i < 1024; ++i) {
      const std::string r = record(i, 1024);
      file.write(r);
      expected += r;
    }
    ASSERT_EQ(expected.size(), kBuffer);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);

    file.write("!", 1);
    expected += "!";
    EXPECT_EQ(readFile(path), expected);

    file.write("tail\n");
    EXPECT_EQ(readFile(path), expected) << "the buffer starts empty after an overflow";
    expected += "tail\n";
  }
  EXPECT_EQ(readFile(path), expected);
}

TYPED_TEST(LogFileTest, RecordLargerThanTheBufferFollowsWhatWasBuffered) {
  const std::string path = this->root + "Index.dat";
  const std::string big = record(7, kBuffer + 1);
  {
    TypeParam file(this->root, "Index", ".dat");
    file.write("head\n");
    file.write(big.data(), big.size());
    EXPECT_EQ(readFile(path), "head\n" + big);
    file.write("tail\n");
    EXPECT_EQ(readFile(path), "head\n" + big);
  }
  EXPECT_EQ(readFile(path), "head\n" + big + "tail\n");
}

// Another file's name is never taken: "taken.log" exists already.
TYPED_TEST(LogFileTest, UnusableOrTakenNamesFallBackToCountedNamesInsideTheDirectory) {
  // With logs/a present, "a/b" would be creatable as it stands, and "../x"
  // would land next to logs/.
  const std::string logs = this->root + "logs/";
  fs::create_directories(logs + "a");
  std::ofstream(logs + "taken.log") << "another file";
  struct Case {
    std::string baseName;
    std::string extension;
  };
  const std::vector<Case> cases = {{"a*b", ".log"}, {"a?b", ".log"}, {"a/b", ".log"},
                                   {"a\"b", ".log"}, {"a\nb", ".log"}, {".", ".log"},
                                   {"..", ".dat"},   {"../x", ".log"}, {"taken", ".log"}};
  std::set<std::string> expectedTree = {"logs/", "logs/a/", "logs/taken.log"};
  int first = -1;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("base name \"" + cases[i].baseName + "\"");
    const std::string contents = "record " + std::to_string(i) + "\n";
    {
      TypeParam file(logs, cases[i].baseName, cases[i].extension);
      file.write(contents);
    }
    if (first < 0) {
      // The counter is process-wide: earlier tests may have used some numbers.
      for (const auto& entry : fs::directory_iterator(logs)) {
        if (entry.is_regular_file()) {
          std::sscanf(entry.path().filename().c_str(), "(%d).log", &first);
        }
      }
      ASSERT_GE(first, 0) << "no fallback file (K).log in " << logs;
    }
    const std::string name = "(" + std::to_string(first + static_cast<int>(i)) + ")" +
                             cases[i].extension;
    EXPECT_EQ(readFile(logs + name), contents) << name;
    expectedTree.insert("logs/" + name);
  }
  EXPECT_EQ(listTree(this->root), expectedTree);
  EXPECT_EQ(readFile(logs + "taken.log"), "another file");
}

// A file that cannot be created even under a numbered name says so once,
// and its records are dropped.
TYPED_TEST(LogFileTest, MissingDirectoryIsSaidOnceAndLosesTheRecords) {
  testing::internal::CaptureStdout();
  {
    TypeParam file(this->root + "missing/", "main", ".log");
    file.write("lost\n");
    file.write(std::string(kBuffer, 'x'));  // the overflow path on a dead file
    file.write("lost too\n");
  }
  EXPECT_THAT(testing::internal::GetCapturedStdout(),
              testing::MatchesRegex("profiler> cannot create log file " + this->root +
                                    "missing/\\([0-9]+\\)\\.log: No such file or directory; its "
                                    "records are lost\n"));
  EXPECT_TRUE(listTree(this->root).empty());
}

// A write that fails part-way, here at the file size limit as on a full disk:
// the file keeps a prefix of the records and takes none after it, even once
// writing would work again, so no record lands at the wrong offset.
TYPED_TEST(LogFileTest, FailedWriteEndsTheFileAtWhatReachedIt) {
  const std::string path = this->root + "main.log";
  constexpr rlim_t kLimit = kBuffer + 1500;
  EXPECT_EXIT(
      {
        std::signal(SIGXFSZ, SIG_IGN);
        std::cout.rdbuf(std::cerr.rdbuf());  // the console, where the death test sees it
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t hard = limit.rlim_max;
        limit.rlim_cur = kLimit;
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string written;
        {
          TypeParam file(this->root, "main", ".log");
          for (int i = 0; i < 3000; ++i) {
            if (i == 2500) {
              limit.rlim_cur = hard;
              setrlimit(RLIMIT_FSIZE, &limit);
            }
            written += record(i, 1000);
            file.write(record(i, 1000));
          }
        }
        const std::string onDisk = readFile(path);
        std::exit(onDisk.size() == kLimit && written.compare(0, kLimit, onDisk) == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0),
      "^profiler> cannot write log file " + path + ": File too large; it ends with the records "
      "written before\n$");
}

// Writes records that hardly compress into a compact log until the file
// size limit cuts a block; 0 when the file then reads to its end as whole
// blocks, at least one of them.
template <typename File>
int compactLogEndsWithWholeBlocks(const std::string& root, const std::string& path) {
  std::signal(SIGXFSZ, SIG_IGN);
  std::cout.rdbuf(std::cerr.rdbuf());
  const RecordLayout layout{true, true, true};
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = 3 * kBuffer / 2;  // one block of such records, not two
  setrlimit(RLIMIT_FSIZE, &limit);
  {
    File file(root, "main", ".log");
    file.writeCompactBlocks(layout);
    std::mt19937 random(3);
    unsigned char record[kMaxRecordBytes];
    for (int i = 0; i < 3 * static_cast<int>(kBuffer / layout.bytes()); ++i) {
      const auto word = static_cast<int32_t>(random());
      file.write(record, encodeEntryRecord(record, layout, word & 0x7fffffff, word, word, 1 + (word & 3), word, word));
    }
  }
  const std::string onDisk = readFile(path);
  const auto* bytes = reinterpret_cast<const unsigned char*>(onDisk.data());
  std::string records;
  std::size_t at = 0, blocks = 0;
  for (;;) {
    const CompactBlockRead read = readCompactBlock(bytes + at, onDisk.size() - at, records);
    if (read.status != CompactBlockRead::kBlock) break;
    at += read.consumed;
    ++blocks;
  }
  return blocks >= 1 && at == onDisk.size() ? 0 : 1;
}

// Compact blocks are whole or absent: the block that meets the limit is taken
// off again.
TYPED_TEST(LogFileTest, FailedCompactWriteLeavesOnlyWholeBlocks) {
  const std::string path = this->root + "main.log";
  EXPECT_EXIT(std::exit(compactLogEndsWithWholeBlocks<TypeParam>(this->root, path)), testing::ExitedWithCode(0),
              "^profiler> cannot write log file " + path + ": File too large; it ends with the records "
              "written before\n$");
}

// Records take their places without a lock: none may be torn, mixed with
// another, doubled or lost, and each thread's stay in its order, also while
// the buffer's halves change hands and at destruction.
TEST_F(SharedLogFileTest, ConcurrentWritersNeverMixRecords) {
  constexpr int kThreads = 8;
  struct Case {
    const char* what;
    int records;
    std::size_t shortest;
    std::size_t spread;
    bool withLarge;  // a few records overflow the buffer on their own
  };
  const Case cases[] = {
      {"mixed sizes, direct writes racing with buffered ones", 3000, 20, 280, true},
      {"short records, many threads at every change of halves", 40000, 8, 40, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto recordOf = [&c](int thread, int index) {
      std::size_t size = c.shortest + static_cast<std::size_t>(thread * 37 + index * 11) % c.spread;
      if (c.withLarge && thread < 2 && index % 1000 == 999) size = kBuffer + 100;
      std::string text = std::to_string(thread) + ":" + std::to_string(index) + ":";
      text.resize(std::max(size, text.size() + 1) - 1, static_cast<char>('a' + thread));
      return text + "\n";
    };
    const std::string path = root + "shared.log";
    fs::remove(path);
    {
      LogFile file(root, "shared", ".log");
      std::atomic<bool> go{false};
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
          while (!go.load()) std::this_thread::yield();
          for (int i = 0; i < c.records; ++i) file.write(recordOf(t, i));
        });
      }
      go = true;
      for (auto& thread : threads) thread.join();
    }
    const std::string contents = readFile(path);
    std::vector<int> next(kThreads, 0);
    std::size_t offset = 0;
    while (offset < contents.size()) {
      const std::size_t end = contents.find('\n', offset);
      ASSERT_NE(end, std::string::npos) << "torn record at offset " << offset;
      const std::string line = contents.substr(offset, end + 1 - offset);
      const int thread = std::atoi(line.c_str());
      ASSERT_TRUE(thread >= 0 && thread < kThreads && next[thread] < c.records)
          << "unexpected record at offset " << offset;
      ASSERT_EQ(line, recordOf(thread, next[thread])) << "at offset " << offset;
      ++next[thread];
      offset = end + 1;
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, c.records));
  }
}

TEST(IsUsableFileBaseNameTest, RejectsNamesThatLeaveTheDirectoryOrBreakFileNames) {
  const std::vector<std::string> usable = {
      "main", "main(2)", "UnknownThread1", "Thread-0", "pool-1 worker", "...", "a.b", "\xc3\xa9t\xc3\xa9"};
  const std::vector<std::string> unusable = {
      "", ".",   "..",  "../x", "a/b",  "a\\b", "a<b",  "a>b",    "a:b", "a\"b",
      "a|b", "a?b", "a*b",  "a\nb", "a\tb", "\x01", std::string("a\0b", 3)};
  for (const auto& name : usable) EXPECT_TRUE(isUsableFileBaseName(name)) << name;
  for (const auto& name : unusable) EXPECT_FALSE(isUsableFileBaseName(name)) << name;
}

}  // namespace
}  // namespace kolvaprof
