#include "output/thread_log_file.h"

namespace kolvaprof {

ThreadLogFile::~ThreadLogFile() {
  inFlight.finish();
  if (buffer) sink.write(buffer.get(), bufferedBytes);
}

bool ThreadLogFile::takeSink() {
  inFlight.finish();
  if (sink.open()) return true;
  room = 0;
  return false;
}

void ThreadLogFile::handOff() {
  inFlight.start(sink, buffer.get(), bufferedBytes);
  std::swap(buffer, spare);
  if (!buffer) buffer.reset(new char[kBufferSize]);
  bufferedBytes = 0;
}

void ThreadLogFile::append(const void* bytes, std::size_t length) {
  if (!takeSink()) return;  // dead: nothing to keep the records for
  if (!buffer) buffer.reset(new char[kBufferSize]);
  room = kBufferSize;
  if (bufferedBytes + length > kBufferSize) {
    handOff();
    if (length > kBufferSize) {
      // Could never be buffered: it follows what was, straight from here.
      inFlight.finish();
      sink.write(static_cast<const char*>(bytes), length);
      return;
    }
  }
  std::memcpy(buffer.get() + bufferedBytes, bytes, length);
  bufferedBytes += length;
}

char* ThreadLogFile::reserve(std::size_t bound) {
  if (!takeSink() || bound > kBufferSize) return nullptr;
  if (!buffer) buffer.reset(new char[kBufferSize]);
  room = kBufferSize;
  if (bufferedBytes + bound > kBufferSize) handOff();
  return buffer.get() + bufferedBytes;
}

}  // namespace kolvaprof
