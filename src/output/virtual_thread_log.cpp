#include "output/virtual_thread_log.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "format/compact_block.h"
#include "format/thread_block.h"
#include "output/run_directory.h"

namespace kolvaprof {

VirtualThreadLog::VirtualThreadLog(std::shared_ptr<RunDirectory> directory,
                                   std::optional<RecordLayout> compact)
    : file(std::move(directory), kVirtualThreadFileBaseName, kVirtualThreadFileExtension),
      compact(compact) {}

void VirtualThreadLog::writeBlock(int32_t threadNumber, const std::string& name, const char* records,
                                  std::size_t length, bool last) {
  if (length == 0 && !last) return;
  thread_local std::vector<unsigned char> block;
  if (compact && length > 0) {
    block.clear();
    appendCompactBlock(block, reinterpret_cast<const unsigned char*>(records), length, *compact);
    records = reinterpret_cast<const char*>(block.data());
    length = block.size();
  }
  const std::string header = makeThreadBlockHeader(threadNumber, name, length, last);
  file.writeWith(header.size() + length, [&](char* out) {
    std::memcpy(out, header.data(), header.size());
    if (length > 0) std::memcpy(out + header.size(), records, length);
    return header.size() + length;
  });
}

void ThreadBlockBuffer::write(const void* bytes, std::size_t length) {
  writeWith(length, [&](char* out) {
    std::memcpy(out, bytes, length);
    return length;
  });
}

char* ThreadBlockBuffer::reserve(std::size_t bound) {
  if (bound > kBlockBytes) {
    flush();
    return nullptr;
  }
  if (used + bound > kBlockBytes) flush();
  if (used + bound > capacity) {
    std::size_t grown = capacity == 0 ? kFirstBytes : 2 * capacity;
    while (grown < used + bound) grown *= 2;
    grown = std::min(grown, kBlockBytes);
    // Left unfilled: only what is written is touched.
    std::unique_ptr<char[]> larger(new char[grown]);
    if (used > 0) std::memcpy(larger.get(), buffer.get(), used);
    buffer = std::move(larger);
    capacity = grown;
  }
  return buffer.get() + used;
}

void ThreadBlockBuffer::flush() {
  if (used == 0) return;
  log.writeBlock(threadNumber, name, buffer.get(), used);
  used = 0;
}

void ThreadBlockBuffer::finish() {
  log.writeBlock(threadNumber, name, buffer.get(), used, true);
  used = 0;
}

}  // namespace kolvaprof
