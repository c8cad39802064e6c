// Compact blocks must give back exactly the fixed-layout records they were
// made from, and a file cut or damaged anywhere must read as whole blocks.

#include "format/compact_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "format/binary_record.h"

namespace kolvaprof {
namespace {

constexpr RecordLayout kEveryLayout[] = {
    {false, false, false}, {true, false, false}, {false, true, false}, {true, true, false},
    {false, false, true},  {true, false, true},  {false, true, true},  {true, true, true},
};

// A stream with what real runs hold (nesting, repeated receivers, two
// threads taking turns, rising times) and what only damage or odd runs hold
// (depth jumps, times going back, words at their limits, exits with
// non-zero words, negative method numbers).
std::string records(RecordLayout layout, int calls) {
  std::string out;
  unsigned char bytes[kMaxRecordBytes];
  std::mt19937 random(7);
  int64_t time = 1000;
  std::size_t depth[2] = {0, 0};
  for (int k = 0; k < calls; ++k) {
    const int thread = (k / 5) % 2;
    time += random() % 300;
    if (depth[thread] > 0 && random() % 3 == 0) {
      out.append(reinterpret_cast<char*>(bytes),
                 encodeExitRecord(bytes, layout, depth[thread]--, thread + 1, time));
      continue;
    }
    const int32_t method = 1 + static_cast<int32_t>(random() % 40);
    const int64_t receiver = random() % 4 == 0 ? 0 : 100 + random() % 8;
    out.append(reinterpret_cast<char*>(bytes),
               encodeEntryRecord(bytes, layout, method, receiver, k + 1, ++depth[thread], thread + 1, time));
  }
  const int32_t extremes[] = {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(), -1};
  for (const int32_t value : extremes) {
    const std::size_t depth = static_cast<uint32_t>(value);
    out.append(reinterpret_cast<char*>(bytes), encodeEntryRecord(bytes, layout, value, value, value, depth, value, value));
    out.append(reinterpret_cast<char*>(bytes), encodeExitRecord(bytes, layout, depth, value, 5));
    out.append(reinterpret_cast<char*>(bytes),
               encodeEntryRecord(bytes, layout, 0, value, 3, 1, 0, std::numeric_limits<int64_t>::max()));
  }
  return out;
}

std::string readAll(const std::vector<unsigned char>& file, RecordLayout layout,
                    CompactBlockRead::Status& last) {
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const CompactBlockRead read = readCompactBlock(file.data() + at, file.size() - at, out);
    last = read.status;
    if (read.status != CompactBlockRead::kBlock) return out;
    EXPECT_EQ(read.layout, layout) << "every block names its layout";
    at += read.consumed;
  }
}

TEST(CompactBlock, GivesBackEveryRecordInEveryLayout) {
  for (const RecordLayout layout : kEveryLayout) {
    SCOPED_TRACE(layout.bytes());
    const std::string first = records(layout, 5000), second = records(layout, 3);
    std::vector<unsigned char> file;
    for (const std::string* part : {&first, &second}) {
      appendCompactBlock(file, reinterpret_cast<const unsigned char*>(part->data()), part->size(), layout);
    }
    appendCompactBlock(file, nullptr, 0, layout);  // an empty buffer makes an empty block
    CompactBlockRead::Status last;
    EXPECT_EQ(readAll(file, layout, last), first + second);
    EXPECT_EQ(last, CompactBlockRead::kEnd);
    EXPECT_LT(file.size() * 4, first.size()) << "the point of the encoding";
    std::vector<BinaryRecord> records;
    ASSERT_EQ(readCompactBlock(file.data(), file.size(), records).status, CompactBlockRead::kBlock);
    ASSERT_EQ(records.size(), first.size() / layout.bytes());
    for (std::size_t k = 0; k < records.size(); ++k) {
      const BinaryRecord fixed = decodeRecord(first.data() + k * layout.bytes(), layout);
      ASSERT_EQ(std::tie(records[k].method, records[k].tag, records[k].callNumber, records[k].depth,
                         records[k].thread, records[k].time),
                std::tie(fixed.method, fixed.tag, fixed.callNumber, fixed.depth, fixed.thread, fixed.time))
          << k;
    }
  }
}

// Cut anywhere, a file reads as its whole blocks and says the rest is cut;
// a changed byte anywhere is found, never read as other records (a bit the
// compressed frame does not use may change nothing).
TEST(CompactBlock, CutOrDamagedFilesKeepTheirWholeBlocks) {
  const RecordLayout layout{true, true, true};
  const std::string a = records(layout, 200), b = records(layout, 100);
  std::vector<unsigned char> file;
  appendCompactBlock(file, reinterpret_cast<const unsigned char*>(a.data()), a.size(), layout);
  const std::size_t firstBlock = file.size();
  appendCompactBlock(file, reinterpret_cast<const unsigned char*>(b.data()), b.size(), layout);
  for (std::size_t cut = 1; cut < file.size(); ++cut) {
    std::vector<unsigned char> cutFile(file.begin(), file.begin() + cut);
    CompactBlockRead::Status last;
    const std::string read = readAll(cutFile, layout, last);
    ASSERT_EQ(read, cut < firstBlock ? "" : a) << cut;
    ASSERT_EQ(last, cut == firstBlock ? CompactBlockRead::kEnd : CompactBlockRead::kTruncated) << cut;
  }
  for (std::size_t at = 0; at < firstBlock; ++at) {
    std::vector<unsigned char> damaged = file;
    damaged[at] ^= 0x10;
    CompactBlockRead::Status last;
    const std::string read = readAll(damaged, layout, last);
    ASSERT_TRUE(read.empty() || read == a + b) << at;
  }
}

}  // namespace
}  // namespace kolvaprof
