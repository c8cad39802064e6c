#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "output/file_sink.h"

namespace kolvaprof {

// The stripe of a shared file's counters that this thread settles its
// records in, plus one; 0 until its first record. Plain and initial-exec,
// for the same reasons as the thread's cached context.
extern __thread unsigned logFileStripe __attribute__((tls_model("initial-exec")));

// A buffered output file that any thread may write to (the shared log, the
// index file, the file of virtual threads), created at its first write.
// Records wait in a 1 MiB buffer and reach the file when the buffer would
// overflow and when the object is destroyed; each write is all or nothing
// with respect to other writes, so threads never mix their records. Records
// take their places without a lock (two threads on two cores would otherwise
// queue on it at every record), and there are two buffers, so that writers go
// on while a full one goes to the disk; the file holds the records in the
// order in which they took their places. The file itself is a FileSink: made,
// named and failed alike for every kind of log.
class LogFile {
 public:
  static constexpr std::size_t kBufferSize = 1048576;

  // Into `directory`, which the run does not make.
  LogFile(std::string directory, std::string baseName, std::string extension);
  // Into the run's directory, taken at the first write of any of its files.
  LogFile(std::shared_ptr<RunDirectory> directory, std::string baseName, std::string extension);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  __attribute__((always_inline)) void write(const void* bytes, std::size_t length) {
    writeShared(bytes, length);
  }
  void write(const std::string& text) { write(text.data(), text.size()); }

  // Lets `fill(char*)` write one record of at most `bound` bytes and return
  // its length; all or nothing like write(). The record needs its exact
  // length before it can take its place, so it is made aside first.
  template <typename Fill>
  __attribute__((always_inline)) void writeWith(std::size_t bound, Fill&& fill) {
    if (bound <= kStackRecordBytes) {
      char record[kStackRecordBytes];
      writeShared(record, fill(record));
      return;
    }
    writeLongShared(bound, fill);
  }

  // directory + base name + extension.
  std::string fileName() const { return sink.fileName(); }
  // Before the first write: see FileSink::writeCompactBlocks.
  void writeCompactBlocks(RecordLayout layout) { sink.writeCompactBlocks(layout); }

 private:
  static constexpr std::size_t kStackRecordBytes = 1024;

  // A shared file's buffer, one of two: while one goes to the disk the
  // writers fill the other.
  struct Half {
    // Left by the claim that overflowed the half, for whoever sends it: where
    // its records end, and that claim's own record, which follows them.
    std::uint64_t end = 0;
    const void* pending = nullptr;
    std::size_t pendingLength = 0;
  };

  // A shared file takes a record without a lock: one atomic addition to the
  // claim word gives it its place in the current half, which is also its
  // place in the file. The claim word holds the half's generation (odd and
  // even generations take turns in the two halves) above its claimed offset.
  static constexpr int kGenerationShift = 40;
  static constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kGenerationShift) - 1;
  // The offset of a closed file's claims: every claim overflows, and the
  // claims of all threads together never reach the generation bits.
  static constexpr std::uint64_t kClosedOffset = std::uint64_t{1} << 38;

  static unsigned ownStripe() {
    const unsigned stripe = logFileStripe;
    return stripe != 0 ? stripe - 1 : takeStripe();
  }
  static unsigned takeStripe();
  std::uint64_t settledBytes(std::size_t half) const;

  void writeShared(const void* bytes, std::size_t length) {
    const std::uint64_t claimed = claim.fetch_add(length, std::memory_order_acquire);
    const std::uint64_t offset = claimed & kOffsetMask;
    if (offset + length <= kBufferSize) {
      const std::size_t half = (claimed >> kGenerationShift) & 1;
      std::memcpy(halfBytes[half] + offset, bytes, length);
      stripes[ownStripe()].settled[half].fetch_add(length, std::memory_order_release);
      return;
    }
    writeOverflowing(claimed, bytes, length);
  }
  template <typename Fill>
  __attribute__((noinline)) void writeLongShared(std::size_t bound, Fill& fill) {
    std::string record(bound, '\0');
    record.resize(fill(record.data()));
    writeShared(record.data(), record.size());
  }
  void writeOverflowing(std::uint64_t claimed, const void* bytes, std::size_t length);
  // With diskLock held: ends the claim word's generation, waits for the
  // writers that claimed in it, and sends its records to the disk; the next
  // claims go to the other half, or nowhere once `close` closes the file.
  void sendHalf(bool close);

  // Of a shared file, in this order: diskLock, then swapLock.
  // diskLock: the file itself, and the change of halves.
  boost::mutex diskLock;
  // Guards nothing but the wait for the next half (swapped).
  boost::mutex swapLock;
  boost::condition_variable swapped;
  alignas(64) std::atomic<std::uint64_t> claim;
  // Bytes of each half's claims that are done with, written in place or
  // given up because they did not fit: summed over stripes, each thread
  // adding to its own, so that threads on two cores do not both wait for one
  // cache line twice per record.
  struct alignas(64) Stripe {
    std::atomic<std::uint64_t> settled[2] = {};
  };
  static constexpr unsigned kStripes = 8;
  Stripe stripes[kStripes];
  Half halves[2];
  char* halfBytes[2] = {nullptr, nullptr};  // in `buffer`, set under diskLock
  std::atomic<bool> closed{false};

  // Under diskLock.
  FileSink sink;
  // Allocated at the first write: the two halves, one after the other.
  std::unique_ptr<char[]> buffer;
};

}  // namespace kolvaprof
