#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "output/file_sink.h"

namespace kolvaprof {

// A log file that only its own thread writes to (a per-thread log), so a
// record needs no lock and no claim: it goes into a 1 MiB buffer, which
// reaches the file when it would overflow and when the object is destroyed.
// The file is made at the first write.
class ThreadLogFile {
 public:
  static constexpr std::size_t kBufferSize = 1048576;

  ThreadLogFile(std::string directory, std::string baseName, std::string extension)
      : sink(std::move(directory), std::move(baseName), std::move(extension)) {}
  ThreadLogFile(std::shared_ptr<RunDirectory> directory, std::string baseName,
                std::string extension)
      : sink(std::move(directory), std::move(baseName), std::move(extension)) {}
  ~ThreadLogFile() { flushBuffer(); }
  ThreadLogFile(const ThreadLogFile&) = delete;
  ThreadLogFile& operator=(const ThreadLogFile&) = delete;

  __attribute__((always_inline)) void write(const void* bytes, std::size_t length) {
    if (bufferedBytes + length <= room) {
      std::memcpy(buffer.get() + bufferedBytes, bytes, length);
      bufferedBytes += length;
      return;
    }
    append(bytes, length);
  }
  void write(const std::string& text) { write(text.data(), text.size()); }

  // Lets `fill(char*)` write one record of at most `bound` bytes straight
  // into the buffer and return its length.
  template <typename Fill>
  __attribute__((always_inline)) void writeWith(std::size_t bound, Fill&& fill) {
    if (bufferedBytes + bound <= room) {
      bufferedBytes += fill(buffer.get() + bufferedBytes);
      return;
    }
    appendWith(bound, fill);
  }

  std::string fileName() const { return sink.fileName(); }
  // Before the first write: see FileSink::writeCompactBlocks.
  void writeCompactBlocks(RecordLayout layout) { sink.writeCompactBlocks(layout); }

 private:
  void append(const void* bytes, std::size_t length);
  // Room for `bound` bytes at the end of the buffer, flushing it first if
  // need be; null when the file is dead or the record could never fit.
  char* reserve(std::size_t bound);
  template <typename Fill>
  __attribute__((noinline)) void appendWith(std::size_t bound, Fill& fill) {
    if (char* place = reserve(bound)) {
      bufferedBytes += fill(place);
      return;
    }
    if (bound <= kBufferSize) return;  // dead
    std::string record(bound, '\0');
    record.resize(fill(record.data()));
    append(record.data(), record.size());
  }
  void flushBuffer();
  // Writes through the sink; a failed write leaves no room, so the fast path
  // sends every record to the slow one, which drops it.
  void send(const char* bytes, std::size_t length);

  FileSink sink;
  // Allocated at the first write. How much of it is filled, and how much the
  // fast path may fill (0 before the first write and once the file is dead).
  std::unique_ptr<char[]> buffer;
  std::size_t bufferedBytes = 0;
  std::size_t room = 0;
};

}  // namespace kolvaprof
