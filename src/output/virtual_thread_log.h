#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "format/binary_record.h"

#include "output/log_file.h"

namespace kolvaprof {

class RunDirectory;

// The one file that every virtual thread of a run writes to, in blocks
// (format/thread_block.h), so that a run of a million virtual threads needs
// one file, not a million; created at its first block.
class VirtualThreadLog {
 public:
  // With `compact`, each block's records are a compact block of that layout.
  explicit VirtualThreadLog(std::shared_ptr<RunDirectory> directory,
                            std::optional<RecordLayout> compact = {});

  // One block, header and records together, never mixed with another's.
  // `last`: the thread's last, written even without records.
  void writeBlock(int32_t threadNumber, const std::string& name, const char* records, std::size_t length,
                  bool last = false);

 private:
  LogFile file;
  std::optional<RecordLayout> compact;
};

// A virtual thread's records on their way to the VirtualThreadLog: a small
// buffer of its own, handed over as a block when full and when the thread
// (or the run) ends. It grows to its full size only as records come, since
// most of ten thousand parked threads hold a few records each. Used by its
// own thread only.
class ThreadBlockBuffer {
 public:
  static constexpr std::size_t kBlockBytes = 4096;
  static constexpr std::size_t kFirstBytes = 256;

  ThreadBlockBuffer(VirtualThreadLog& log, int32_t threadNumber, std::string name)
      : log(log), threadNumber(threadNumber), name(std::move(name)) {}
  ~ThreadBlockBuffer() { flush(); }
  ThreadBlockBuffer(const ThreadBlockBuffer&) = delete;
  ThreadBlockBuffer& operator=(const ThreadBlockBuffer&) = delete;

  void write(const void* bytes, std::size_t length);
  // Like LogFile::writeWith: `fill(char*)` writes at most `bound` bytes.
  template <typename Fill>
  void writeWith(std::size_t bound, Fill&& fill) {
    if (char* place = reserve(bound)) {
      used += fill(place);
      return;
    }
    std::string record(bound, '\0');
    record.resize(fill(record.data()));
    log.writeBlock(threadNumber, name, record.data(), record.size());
  }
  void flush();
  // At the thread's end: what is left, as its last block.
  void finish();

 private:
  // Room for `bound` bytes, handing the buffer over first if need be; null
  // when a record could never fit and goes as a block of its own.
  char* reserve(std::size_t bound);

  VirtualThreadLog& log;
  int32_t threadNumber;
  std::string name;
  std::unique_ptr<char[]> buffer;  // allocated at the first record
  std::size_t capacity = 0;
  std::size_t used = 0;
};

}  // namespace kolvaprof
