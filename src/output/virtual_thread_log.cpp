#include "output/virtual_thread_log.h"

#include <cstring>

#include "format/thread_block.h"
#include "output/run_directory.h"

namespace kolvaprof {

VirtualThreadLog::VirtualThreadLog(std::shared_ptr<RunDirectory> directory)
    : file(std::move(directory), kVirtualThreadFileBaseName, kVirtualThreadFileExtension) {}

void VirtualThreadLog::writeBlock(int32_t threadNumber, const std::string& name, const char* records,
                                  std::size_t length) {
  if (length == 0) return;
  const std::string header = makeThreadBlockHeader(threadNumber, name, length);
  file.writeWith(header.size() + length, [&](char* out) {
    std::memcpy(out, header.data(), header.size());
    std::memcpy(out + header.size(), records, length);
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
  if (!buffer) buffer.reset(new char[kBlockBytes]);  // left unfilled: only what is written is touched
  return buffer.get() + used;
}

void ThreadBlockBuffer::flush() {
  if (used == 0) return;
  log.writeBlock(threadNumber, name, buffer.get(), used);
  used = 0;
}

}  // namespace kolvaprof
