// Arbitrary bytes as compact blocks, three ways: as a file (every check on
// the way in), as the compressed operations of a well-formed block (the
// decoder past the checksum, as fixed-layout bytes and as runs of records,
// which must agree), and as fixed-layout records that must come
// back unchanged through a block of their own.

#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "format/compact_block.h"

namespace {

void putU4(std::vector<unsigned char>& out, uint32_t value) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(value >> (8 * k)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned layoutBits = data[0] & 7;
  const kolvaprof::RecordLayout layout{(layoutBits & 1) != 0, (layoutBits & 2) != 0, (layoutBits & 4) != 0};
  const uint32_t claimedRecords = data[1];
  data += 2;
  size -= 2;

  std::string records;
  for (std::size_t at = 0; at < size;) {
    const kolvaprof::CompactBlockRead read = kolvaprof::readCompactBlock(data + at, size - at, records);
    if (read.status != kolvaprof::CompactBlockRead::kBlock) break;
    at += read.consumed;
  }

  std::vector<unsigned char> block = {'k', 'v', 'b', static_cast<unsigned char>('0' + layoutBits)};
  std::vector<unsigned char> body(ZSTD_compressBound(size));
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  const std::size_t compressed = ZSTD_compress2(context, body.data(), body.size(), data, size);
  ZSTD_freeCCtx(context);
  if (ZSTD_isError(compressed)) abort();
  putU4(block, static_cast<uint32_t>(compressed));
  putU4(block, static_cast<uint32_t>(size));
  putU4(block, claimedRecords);
  block.insert(block.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(compressed));
  records.clear();
  const kolvaprof::CompactBlockRead read = kolvaprof::readCompactBlock(block.data(), block.size(), records);
  if (read.status == kolvaprof::CompactBlockRead::kBlock &&
      records.size() != read.records * layout.bytes()) {
    abort();
  }
  // The same block in runs: the same records, each in one run, a run of
  // operations all of one thread and a kept record alone.
  kolvaprof::CompactBlockRuns runs;
  const kolvaprof::CompactBlockRead inRuns = kolvaprof::readCompactBlock(block.data(), block.size(), runs);
  if (inRuns.status != read.status || inRuns.records != read.records) abort();
  std::size_t begin = 0;
  for (const kolvaprof::CompactBlockRuns::Run& run : runs.runs) {
    if (run.end <= begin || run.end > runs.records.size() || (run.kept && run.end != begin + 1)) abort();
    for (std::size_t k = begin; k < run.end; ++k) {
      const kolvaprof::BinaryRecord fixed = kolvaprof::decodeRecord(records.data() + k * layout.bytes(), layout);
      const kolvaprof::BinaryRecord& r = runs.records[k];
      if (r.method != fixed.method || r.tag != fixed.tag || r.callNumber != fixed.callNumber ||
          r.depth != fixed.depth || r.thread != fixed.thread || r.time != fixed.time ||
          (!run.kept && r.thread != runs.records[begin].thread)) {
        abort();
      }
    }
    begin = run.end;
  }
  if (begin != runs.records.size() || runs.records.size() != read.records) abort();

  const std::size_t whole = size / layout.bytes() * layout.bytes();
  std::vector<unsigned char> ours;
  kolvaprof::appendCompactBlock(ours, data, whole, layout);
  records.clear();
  const kolvaprof::CompactBlockRead back = kolvaprof::readCompactBlock(ours.data(), ours.size(), records);
  if (back.status != kolvaprof::CompactBlockRead::kBlock || back.consumed != ours.size() ||
      records.size() != whole || std::memcmp(records.data(), data, whole) != 0) {
    abort();
  }
  return 0;
}
