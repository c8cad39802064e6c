#include "output/thread_log_file.h"

namespace kolvaprof {

void ThreadLogFile::send(const char* bytes, std::size_t length) {
  sink.write(bytes, length);
  if (!sink.isWritable()) room = 0;
}

void ThreadLogFile::append(const void* bytes, std::size_t length) {
  if (!sink.open()) return;  // dead: nothing to keep the records for
  if (!buffer) buffer.reset(new char[kBufferSize]);
  room = kBufferSize;
  if (bufferedBytes + length <= kBufferSize) {
    std::memcpy(buffer.get() + bufferedBytes, bytes, length);
    bufferedBytes += length;
    return;
  }
  send(buffer.get(), bufferedBytes);
  send(static_cast<const char*>(bytes), length);
  bufferedBytes = 0;
}

char* ThreadLogFile::reserve(std::size_t bound) {
  if (!sink.open() || bound > kBufferSize) return nullptr;
  if (!buffer) buffer.reset(new char[kBufferSize]);
  room = kBufferSize;
  if (bufferedBytes + bound > kBufferSize) {
    send(buffer.get(), bufferedBytes);
    bufferedBytes = 0;
    if (!sink.isWritable()) return nullptr;
  }
  return buffer.get() + bufferedBytes;
}

void ThreadLogFile::flushBuffer() {
  if (buffer) send(buffer.get(), bufferedBytes);
  bufferedBytes = 0;
}

}  // namespace kolvaprof
