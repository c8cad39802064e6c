#include "output/block_compressor.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "format/compact_block.h"
#include "output/file_sink.h"
#include "support/temp_dir_test.h"

namespace kolvaprof {
namespace {

constexpr RecordLayout kLayout{true, true, false};

// `records` entries whose call numbers count on from `first`.
std::string entries(int32_t first, int records) {
  std::string bytes;
  unsigned char record[kMaxRecordBytes];
  for (int k = 0; k < records; ++k) {
    const std::size_t length = encodeEntryRecord(record, kLayout, 7, 3 * k, first + k, 1, first, 0);
    bytes.append(reinterpret_cast<const char*>(record), length);
  }
  return bytes;
}

// The call numbers of a compact file, block after block; -1 ends a file
// that does not read whole.
std::vector<int32_t> callNumbers(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  std::vector<BinaryRecord> records;
  std::size_t at = 0;
  std::vector<int32_t> numbers;
  for (;;) {
    const CompactBlockRead read = readCompactBlock(bytes + at, file.size() - at, records);
    if (read.status != CompactBlockRead::kBlock) {
      if (read.status != CompactBlockRead::kEnd) numbers.push_back(-1);
      break;
    }
    at += read.consumed;
  }
  for (const BinaryRecord& record : records) numbers.push_back(record.callNumber);
  return numbers;
}

using BlockCompressorTest = TempDirTest;

// More blocks than may wait, from threads of their own files: each file
// holds its blocks whole and in the order they were handed over once its
// sink is gone.
TEST_F(BlockCompressorTest, ConcurrentSinksGetTheirBlocksWholeAndInOrder) {
  constexpr int kThreads = 4, kBlocks = 12, kRecords = 500;
  std::vector<std::unique_ptr<FileSink>> sinks;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    sinks.push_back(std::make_unique<FileSink>(root, std::to_string(t), ".log"));
    sinks.back()->writeCompactBlocks(kLayout);
    ASSERT_TRUE(sinks.back()->open());
  }
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&sink = *sinks[t]] {
      for (int b = 0; b < kBlocks; ++b) {
        const std::string block = entries(b * kRecords, kRecords);
        sink.write(block.data(), block.size());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  sinks.clear();
  for (int t = 0; t < kThreads; ++t) {
    const std::vector<int32_t> numbers = callNumbers(root + std::to_string(t) + ".log");
    ASSERT_EQ(numbers.size(), static_cast<std::size_t>(kBlocks * kRecords)) << t;
    for (std::size_t k = 0; k < numbers.size(); ++k) ASSERT_EQ(numbers[k], static_cast<int32_t>(k)) << t;
  }
}

// A child forked while the compressor's thread runs has no such thread: its
// own blocks must still reach its files, and the parent's go on as before.
TEST_F(BlockCompressorTest, ForkedChildWritesItsOwnBlocks) {
  const std::string block = entries(0, 100);
  auto parent = std::make_unique<FileSink>(root, "parent", ".log");
  parent->writeCompactBlocks(kLayout);
  ASSERT_TRUE(parent->open());
  parent->write(block.data(), block.size());
  // Forked with the thread idle, waiting for work: forked mid-block, a child
  // may find the allocator's lock held by a thread it does not have, which is
  // the C library's matter (and the sanitizers'), not the compressor's.
  BlockCompressor::instance().drain(*parent);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(30);  // a child that hangs fails the test instead of the run
    {
      FileSink sink(root, "child", ".log");
      sink.writeCompactBlocks(kLayout);
      if (sink.open()) sink.write(block.data(), block.size());
    }
    _exit(callNumbers(root + "child.log").size() == 100 ? 0 : 1);
  }
  parent->write(block.data(), block.size());
  parent.reset();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_EQ(callNumbers(root + "parent.log").size(), 200u);
}

}  // namespace
}  // namespace kolvaprof
