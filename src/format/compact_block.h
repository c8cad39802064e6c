#pragma once

// The compact encoding of binary records (CompressLogfile=2): the records a
// buffer held, in the run's fixed layout, become one block of small integers
// (what changes from the record before, and nothing the reader can infer),
// compressed as a whole. A block is written with one call and read back only
// when it is whole and its checksum holds, so a file cut short anywhere (a
// killed VM, a failed write) reads as a clean run of whole blocks.
//
// On disk, a block is a 16-byte header, then the compressed body:
//   "kvb" and the layout's character ('0' + 1 with call numbers + 2 with
//   thread numbers + 4 with times), then compressed size, raw size and
//   record count as little-endian 32-bit words
// and the body, once decompressed, a sequence of operations, each a varint:
//   0        exit (its depth is the open depth; the time follows if any)
//   1 d      the open depth becomes d (zigzag), when a record's depth is not
//            the one inferred
//   2 t      the thread number becomes t (zigzag), before a record of another
//            thread
//   3 words  a record that fits no other operation, as its fixed-layout bytes
//   m + 3    entry of method m > 0, followed by the deltas from the block's
//            previous entry of the receiver, [the call number], and [from the
//            previous record, the time], each zigzag
// Every block starts from zero: depth 0, thread 0, receiver 0, call 0, time
// 0, so a block reads without the ones before it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/binary_record.h"

namespace kolvaprof {

inline constexpr std::size_t kCompactBlockHeaderBytes = 16;

// Appends the block of `bytes` of whole fixed-layout records to `out`.
void appendCompactBlock(std::vector<unsigned char>& out, const unsigned char* records,
                        std::size_t bytes, RecordLayout layout);

struct CompactBlockRead {
  RecordLayout layout;  // the block's, for kBlock
  enum Status {
    kBlock,      // one block read; `consumed` bytes used
    kEnd,        // no bytes left
    kTruncated,  // the bytes end inside the block
    kCorrupt,    // not a block, or one that fails its checks
  };
  Status status = kEnd;
  std::size_t consumed = 0;
  std::size_t records = 0;
  std::string problem;  // for kCorrupt
};

// Reads the block at `data` and appends its records, in the fixed layout the
// block names, to `records`; on anything but kBlock, `records` is as it was.
CompactBlockRead readCompactBlock(const unsigned char* data, std::size_t size, std::string& records);
// The same, with the records as decodeRecord reads fixed-layout ones.
CompactBlockRead readCompactBlock(const unsigned char* data, std::size_t size,
                                  std::vector<BinaryRecord>& records);

// A block's records with what their operations tell of them: each run is
// either records of one thread read from entry and exit operations (an
// exit's other words are zero, the thread is the one its operation set), or
// a single record the block kept as its fixed-layout words, which may hold
// anything.
struct CompactBlockRuns {
  struct Run {
    std::size_t end = 0;  // records[end of the run before, end)
    bool kept = false;
  };
  std::vector<BinaryRecord> records;
  std::vector<Run> runs;
  void clear() {
    records.clear();
    runs.clear();
  }
};
// The same, with the records in runs.
CompactBlockRead readCompactBlock(const unsigned char* data, std::size_t size, CompactBlockRuns& records);

// The size of the whole block whose header (kCompactBlockHeaderBytes) is at
// `header`, as the header says.
std::size_t compactBlockBytes(const unsigned char* header);

// Whether `data` starts like a compact block (its first four bytes), and the
// layout it names.
bool startsCompactBlock(const unsigned char* data, std::size_t size, RecordLayout* layout = nullptr);

}  // namespace kolvaprof
