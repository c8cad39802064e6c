#include "format/compact_block.h"

#include <zstd.h>

#include <cstring>
#include <memory>

namespace kolvaprof {
namespace {

constexpr unsigned char kMagic[3] = {'k', 'v', 'b'};
constexpr unsigned char kFirstLayoutMark = '0';

unsigned char layoutMark(RecordLayout layout) {
  return static_cast<unsigned char>(kFirstLayoutMark + (layout.withCallNumber ? 1 : 0) +
                                    (layout.withThreadNumber ? 2 : 0) + (layout.withTime ? 4 : 0));
}
// Fast enough to keep up with the buffers a busy thread fills; higher levels
// shrink traces little more, since the integers are already small.
constexpr int kCompressionLevel = 1;
// What a block's body may claim to hold once decompressed: a buffer of
// records never comes near it, so a larger claim is damage, not data.
constexpr uint32_t kMaxRawBytes = 16u << 20;

enum Op : uint64_t { kExit = 0, kSetDepth = 1, kSetThread = 2, kRawRecord = 3, kFirstMethod = 3 };

uint64_t zigzag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}
int64_t unzigzag(uint64_t value) {
  return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}
// The difference of two 32-bit words, as the smallest signed number.
int64_t wordDelta(int32_t value, int32_t previous) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) - static_cast<uint32_t>(previous));
}

// The most bytes one record's operations take: a thread, a depth, an entry
// with three deltas and a time, or a raw record.
constexpr std::size_t kMaxOperationBytes = 6 * 10 + kMaxRecordBytes;

unsigned char* putVarint(unsigned char* out, uint64_t value) {
  while (value >= 0x80) {
    *out++ = static_cast<unsigned char>(value | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<unsigned char>(value);
  return out;
}

void putU4(unsigned char* out, uint32_t value) {
  for (int k = 0; k < 4; ++k) out[k] = static_cast<unsigned char>(value >> (8 * k));
}
uint32_t getU4(const unsigned char* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

// Damaged operations may set any depth; the record keeps its low 32 bits.
int64_t wrapping(int64_t value, int64_t step) {
  return static_cast<int64_t>(static_cast<uint64_t>(value) + static_cast<uint64_t>(step));
}

struct State {
  int64_t depth = 0;  // open calls before the next record
  int32_t thread = 0;
  int32_t receiver = 0;
  int32_t call = 0;
  int64_t time = 0;
};

// An exit whose tag or call words are not zero, or an entry of no method
// number, is damage the records already held; it is kept as it was.
bool needsRawRecord(const BinaryRecord& record) {
  if (record.method < 0) return true;
  return record.method == 0 && (record.tag != 0 || record.callNumber != 0);
}

// The layout's fields as constants, so that the loops over a block's
// records test none of them: the traced thread encodes every record of a
// full buffer.
template <bool callNumber, bool threadNumber, bool time>
struct FixedLayout {
  static constexpr bool kCallNumber = callNumber, kThreadNumber = threadNumber, kTime = time;
};

// Calls `work` with `layout` as a FixedLayout.
template <typename Work>
decltype(auto) withFixedLayout(RecordLayout layout, Work&& work) {
  switch (layoutMark(layout) - kFirstLayoutMark) {
    case 0: return work(FixedLayout<false, false, false>{});
    case 1: return work(FixedLayout<true, false, false>{});
    case 2: return work(FixedLayout<false, true, false>{});
    case 3: return work(FixedLayout<true, true, false>{});
    case 4: return work(FixedLayout<false, false, true>{});
    case 5: return work(FixedLayout<true, false, true>{});
    case 6: return work(FixedLayout<false, true, true>{});
    default: return work(FixedLayout<true, true, true>{});
  }
}

template <typename Layout>
unsigned char* encodeOperations(unsigned char* out, const unsigned char* records, std::size_t count) {
  constexpr RecordLayout layout{Layout::kCallNumber, Layout::kThreadNumber, Layout::kTime};
  State state;
  const std::size_t size = layout.bytes();
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned char* bytes = records + k * size;
    const BinaryRecord record = decodeRecord(bytes, layout);
    if (needsRawRecord(record)) {
      out = putVarint(out, kRawRecord);
      std::memcpy(out, bytes, size);
      out += size;
      continue;
    }
    if (layout.withThreadNumber && record.thread != state.thread) {
      out = putVarint(out, kSetThread);
      out = putVarint(out, zigzag(record.thread));
      state.thread = record.thread;
    }
    const int64_t openBefore = record.isExit() ? record.depth : int64_t{record.depth} - 1;
    if (openBefore != state.depth) {
      out = putVarint(out, kSetDepth);
      out = putVarint(out, zigzag(openBefore));
    }
    if (record.isExit()) {
      out = putVarint(out, kExit);
      state.depth = openBefore - 1;
    } else {
      out = putVarint(out, static_cast<uint64_t>(record.method) + kFirstMethod);
      out = putVarint(out, zigzag(wordDelta(record.tag, state.receiver)));
      state.receiver = record.tag;
      if (layout.withCallNumber) {
        out = putVarint(out, zigzag(wordDelta(record.callNumber, state.call)));
        state.call = record.callNumber;
      }
      state.depth = openBefore + 1;
    }
    if (layout.withTime) {
      out = putVarint(out, zigzag(static_cast<int64_t>(static_cast<uint64_t>(record.time) -
                                                       static_cast<uint64_t>(state.time))));
      state.time = record.time;
    }
  }
  return out;
}

// Writes the operations of `count` records to `out` (room for
// kMaxOperationBytes each); returns their end.
unsigned char* encodeOperations(unsigned char* out, const unsigned char* records, std::size_t count,
                                RecordLayout layout) {
  return withFixedLayout(layout, [&](auto fixed) {
    return encodeOperations<decltype(fixed)>(out, records, count);
  });
}

struct CompressContext {
  CompressContext() : context(ZSTD_createCCtx()) {
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, kCompressionLevel);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  }
  ~CompressContext() { ZSTD_freeCCtx(context); }
  ZSTD_CCtx* context;
};

struct DecompressContext {
  DecompressContext() : context(ZSTD_createDCtx()) {}
  ~DecompressContext() { ZSTD_freeDCtx(context); }
  ZSTD_DCtx* context;
};

class OperationReader {
 public:
  OperationReader(const unsigned char* at, const unsigned char* end) : at(at), end(end) {}
  bool atEnd() const { return at == end; }
  // Most operations and deltas take one byte, and most time deltas two.
  bool varint(uint64_t& value) {
    if (end - at >= 2) {
      if (at[0] < 0x80) {
        value = *at++;
        return true;
      }
      if (at[1] < 0x80) {
        value = (at[0] & 0x7fu) | static_cast<uint64_t>(at[1]) << 7;
        at += 2;
        return true;
      }
    }
    return longVarint(value);
  }
  bool longVarint(uint64_t& value) {
    if (end - at >= 10) {  // room for the longest: no bound to check on the way
      uint64_t read = 0;
      for (int k = 0; k < 10; ++k) {
        const unsigned char byte = at[k];
        read |= static_cast<uint64_t>(byte & 0x7f) << (7 * k);
        if (!(byte & 0x80)) {
          at += k + 1;
          value = read;
          return true;
        }
      }
      at += 10;
      return false;
    }
    value = 0;
    for (int shift = 0; shift < 64 && at < end; shift += 7) {
      const unsigned char byte = *at++;
      value |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if (!(byte & 0x80)) return true;
    }
    return false;
  }
  bool signedVarint(int64_t& value) {
    uint64_t raw = 0;
    if (!varint(raw)) return false;
    value = unzigzag(raw);
    return true;
  }
  const unsigned char* take(std::size_t bytes) {
    if (static_cast<std::size_t>(end - at) < bytes) return nullptr;
    const unsigned char* taken = at;
    at += bytes;
    return taken;
  }

 private:
  const unsigned char* at;
  const unsigned char* end;
};

// Where decoded records go: as fixed-layout bytes, or as records.
struct FixedBytes {
  RecordLayout layout;
  std::string& out;
  // An exit is an entry of method 0 with zero words, as encodeExitRecord
  // writes it; the depth keeps its low 32 bits either way.
  template <class Layout>
  void record(int64_t method, int32_t tag, int32_t call, int64_t depth, int32_t thread, int64_t time) {
    unsigned char bytes[kMaxRecordBytes];
    const std::size_t length = encodeEntryRecord(bytes, layout, static_cast<int32_t>(method), tag, call,
                                                 static_cast<std::size_t>(depth), thread, time);
    out.append(reinterpret_cast<const char*>(bytes), length);
  }
  void raw(const unsigned char* bytes) { out.append(reinterpret_cast<const char*>(bytes), layout.bytes()); }
  std::size_t size() const { return out.size(); }
  void resize(std::size_t size) { out.resize(size); }
  void reserve(std::size_t) {}
};

// As decodeRecord would read the fixed words back.
struct Records {
  RecordLayout layout;
  std::vector<BinaryRecord>& out;
  template <class Layout>
  void record(int64_t method, int32_t tag, int32_t call, int64_t depth, int32_t thread, int64_t time) {
    BinaryRecord& r = out.emplace_back();
    r.method = static_cast<int32_t>(method);
    r.tag = tag;
    if (Layout::kCallNumber) r.callNumber = call;
    r.depth = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(depth)));
    if (Layout::kThreadNumber) r.thread = thread;
    if (Layout::kTime) r.time = time;
  }
  void raw(const unsigned char* bytes) { out.push_back(decodeRecord(bytes, layout)); }
  std::size_t size() const { return out.size(); }
  void resize(std::size_t size) { out.resize(size); }
  void reserve(std::size_t size) { out.reserve(size); }
};

// As Records, and where each run of one thread or kept record ends.
struct RecordRuns {
  RecordLayout layout;
  CompactBlockRuns& out;
  int32_t runThread = 0;  // of the last run, when it is not a kept record
  bool inRun = false;
  template <class Layout>
  void record(int64_t method, int32_t tag, int32_t call, int64_t depth, int32_t thread, int64_t time) {
    Records{layout, out.records}.record<Layout>(method, tag, call, depth, thread, time);
    if (inRun && thread == runThread) {
      ++out.runs.back().end;
      return;
    }
    out.runs.push_back({out.records.size(), false});
    runThread = thread;
    inRun = true;
  }
  void raw(const unsigned char* bytes) {
    out.records.push_back(decodeRecord(bytes, layout));
    out.runs.push_back({out.records.size(), true});
    inRun = false;
  }
  std::size_t size() const { return out.records.size(); }
  void resize(std::size_t size) {
    out.records.resize(size);
    while (!out.runs.empty() && out.runs.back().end > size) {
      const std::size_t begin = out.runs.size() > 1 ? out.runs[out.runs.size() - 2].end : 0;
      if (begin < size && !out.runs.back().kept) {
        out.runs.back().end = size;
        break;
      }
      out.runs.pop_back();
    }
    inRun = false;
  }
  void reserve(std::size_t size) { out.records.reserve(size); }
};

// Turns the operations back into records for `emit`; the problem, or "".
template <class Layout, typename Emit>
std::string decodeOperations(const unsigned char* ops, std::size_t size, std::size_t expectedRecords, Emit& emit) {
  constexpr RecordLayout layout{Layout::kCallNumber, Layout::kThreadNumber, Layout::kTime};
  OperationReader in(ops, ops + size);
  State state;
  std::size_t count = 0;
  const auto readTime = [&]() {
    if (!layout.withTime) return true;
    int64_t delta = 0;
    if (!in.signedVarint(delta)) return false;
    state.time = static_cast<int64_t>(static_cast<uint64_t>(state.time) + static_cast<uint64_t>(delta));
    return true;
  };
  while (!in.atEnd()) {
    uint64_t op = 0;
    if (!in.varint(op)) return "an operation runs past the block";
    if (op == kSetDepth || op == kSetThread) {
      int64_t value = 0;
      if (!in.signedVarint(value)) return "an operation runs past the block";
      if (op == kSetDepth) {
        state.depth = value;
      } else if (!layout.withThreadNumber) {
        return "a thread number in a layout without them";
      } else {
        state.thread = static_cast<int32_t>(value);
      }
      continue;
    }
    ++count;
    if (op == kRawRecord) {
      const unsigned char* raw = in.take(layout.bytes());
      if (!raw) return "a record runs past the block";
      emit.raw(raw);
      continue;
    }
    if (op == kExit) {
      if (!readTime()) return "an exit runs past the block";
      emit.template record<Layout>(0, 0, 0, state.depth, state.thread, state.time);
      state.depth = wrapping(state.depth, -1);
      continue;
    }
    if (op - kFirstMethod > 0x7fffffff) return "a method number out of range";
    int64_t receiver = 0, call = 0;
    if (!in.signedVarint(receiver)) return "an entry runs past the block";
    if (layout.withCallNumber && !in.signedVarint(call)) return "an entry runs past the block";
    if (!readTime()) return "an entry runs past the block";
    state.receiver = static_cast<int32_t>(static_cast<uint32_t>(state.receiver) + static_cast<uint32_t>(receiver));
    state.call = static_cast<int32_t>(static_cast<uint32_t>(state.call) + static_cast<uint32_t>(call));
    state.depth = wrapping(state.depth, 1);
    emit.template record<Layout>(static_cast<int64_t>(op - kFirstMethod), state.receiver, state.call, state.depth,
                                 state.thread, state.time);
  }
  if (count != expectedRecords) return "the block holds another number of records than it says";
  return "";
}

template <typename Emit>
std::string decodeOperations(const unsigned char* ops, std::size_t size, RecordLayout layout,
                             std::size_t expectedRecords, Emit& emit) {
  return withFixedLayout(layout, [&](auto fixed) {
    return decodeOperations<decltype(fixed)>(ops, size, expectedRecords, emit);
  });
}

// Checks the block at `data` and decodes its records for `emit`.
template <typename Emit>
CompactBlockRead readBlock(const unsigned char* data, std::size_t size, Emit&& emitFor) {
  CompactBlockRead read;
  if (size == 0) return read;
  read.status = CompactBlockRead::kTruncated;
  if (size < kCompactBlockHeaderBytes) {
    const bool likeAHeader = std::memcmp(data, kMagic, size < 3 ? size : 3) == 0 &&
                             (size < 4 || startsCompactBlock(data, size));
    if (!likeAHeader) read.status = CompactBlockRead::kCorrupt;
    return read;
  }
  const uint32_t compressed = getU4(data + 4);
  const uint32_t raw = getU4(data + 8);
  const uint32_t count = getU4(data + 12);
  read.status = CompactBlockRead::kCorrupt;
  RecordLayout layout;
  if (!startsCompactBlock(data, size, &layout)) {
    read.problem = "not the start of a compact block";
    return read;
  }
  if (raw > kMaxRawBytes || count > raw) {
    read.problem = "a block header with impossible sizes";
    return read;
  }
  if (size - kCompactBlockHeaderBytes < compressed) {
    read.status = CompactBlockRead::kTruncated;
    return read;
  }
  thread_local DecompressContext decompressor;
  thread_local std::vector<unsigned char> ops;
  if (ops.size() < raw) ops.resize(raw);
  const std::size_t got =
      ZSTD_decompressDCtx(decompressor.context, ops.data(), raw, data + kCompactBlockHeaderBytes, compressed);
  if (ZSTD_isError(got) || got != raw) {
    read.problem = ZSTD_isError(got) ? std::string("a damaged block (") + ZSTD_getErrorName(got) + ")"
                                     : "a block shorter than it says";
    return read;
  }
  auto emit = emitFor(layout);
  const std::size_t before = emit.size();
  emit.reserve(before + count);
  read.problem = decodeOperations(ops.data(), raw, layout, count, emit);
  if (!read.problem.empty()) {
    emit.resize(before);
    return read;
  }
  read.status = CompactBlockRead::kBlock;
  read.layout = layout;
  read.consumed = kCompactBlockHeaderBytes + compressed;
  read.records = count;
  return read;
}

}  // namespace

void appendCompactBlock(std::vector<unsigned char>& out, const unsigned char* records,
                        std::size_t bytes, RecordLayout layout) {
  const std::size_t count = bytes / layout.bytes();
  // Kept between blocks: a thread's buffers all have the same size.
  thread_local std::vector<unsigned char> ops;
  if (ops.size() < count * kMaxOperationBytes) ops.resize(count * kMaxOperationBytes);
  const std::size_t opBytes =
      static_cast<std::size_t>(encodeOperations(ops.data(), records, count, layout) - ops.data());

  thread_local CompressContext compressor;
  // Compressed aside: growing `out` by the bound would zero a buffer's worth
  // of bytes for every block, many times what the block keeps.
  thread_local std::vector<unsigned char> packed;
  const std::size_t bound = ZSTD_compressBound(opBytes);
  if (packed.size() < bound) packed.resize(bound);
  const std::size_t compressed =
      ZSTD_compress2(compressor.context, packed.data(), packed.size(), ops.data(), opBytes);
  if (ZSTD_isError(compressed)) return;  // only when memory runs out; the block is lost, not torn
  unsigned char header[kCompactBlockHeaderBytes];
  std::memcpy(header, kMagic, 3);
  header[3] = layoutMark(layout);
  putU4(header + 4, static_cast<uint32_t>(compressed));
  putU4(header + 8, static_cast<uint32_t>(opBytes));
  putU4(header + 12, static_cast<uint32_t>(count));
  out.insert(out.end(), header, header + kCompactBlockHeaderBytes);
  out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(compressed));
}

std::size_t compactBlockBytes(const unsigned char* header) {
  return kCompactBlockHeaderBytes + getU4(header + 4);
}

bool startsCompactBlock(const unsigned char* data, std::size_t size, RecordLayout* layout) {
  if (size < 4 || std::memcmp(data, kMagic, 3) != 0) return false;
  const unsigned mark = data[3] - kFirstLayoutMark;
  if (mark > 7) return false;
  if (layout) *layout = RecordLayout{(mark & 1) != 0, (mark & 2) != 0, (mark & 4) != 0};
  return true;
}

CompactBlockRead readCompactBlock(const unsigned char* data, std::size_t size, std::string& records) {
  return readBlock(data, size, [&records](RecordLayout layout) { return FixedBytes{layout, records}; });
}

CompactBlockRead readCompactBlock(const unsigned char* data, std::size_t size,
                                  std::vector<BinaryRecord>& records) {
  return readBlock(data, size, [&records](RecordLayout layout) { return Records{layout, records}; });
}

CompactBlockRead readCompactBlock(const unsigned char* data, std::size_t size, CompactBlockRuns& records) {
  return readBlock(data, size, [&records](RecordLayout layout) { return RecordRuns{layout, records}; });
}

}  // namespace kolvaprof
