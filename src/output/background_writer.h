#pragma once

#include <atomic>
#include <cstddef>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

namespace kolvaprof {

class FileSink;

// One buffer of a per-thread log on its way to the disk. Its owner hands it
// to the writer thread and goes on filling another; while it is in flight
// the sink is the writer's, so the owner waits for it (finish()) before it
// touches the sink again or hands off the next buffer.
class PendingWrite {
 public:
  PendingWrite() = default;
  PendingWrite(const PendingWrite&) = delete;
  PendingWrite& operator=(const PendingWrite&) = delete;
  ~PendingWrite() { finish(); }

  // Sends `length` bytes through `sink`, on the writer thread when there is
  // one; the bytes must stay as they are until finish() returns.
  void start(FileSink& sink, const char* bytes, std::size_t length);
  // Returns once the last write started has reached the sink.
  void finish() {
    if (inFlight.load(std::memory_order_acquire)) waitUntilWritten();
  }

 private:
  friend class BackgroundWriter;
  void waitUntilWritten();

  FileSink* sink = nullptr;
  const char* bytes = nullptr;
  std::size_t length = 0;
  std::atomic<bool> inFlight{false};
  PendingWrite* next = nullptr;  // in the writer's queue
};

// Returns once every write handed off before the call has reached its sink.
void settleBackgroundWrites();

}  // namespace kolvaprof
