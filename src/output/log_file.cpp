#include "output/log_file.h"

#include <cstring>
#include <thread>

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof {

__thread unsigned logFileStripe __attribute__((tls_model("initial-exec")));

LogFile::LogFile(std::string directory, std::string baseName, std::string extension)
    : sink(std::move(directory), std::move(baseName), std::move(extension)) {
  // Unopened: the first claim takes the slow way, which opens the file.
  claim.store(kClosedOffset, std::memory_order_relaxed);
}

LogFile::LogFile(std::shared_ptr<RunDirectory> directory, std::string baseName,
                 std::string extension)
    : sink(std::move(directory), std::move(baseName), std::move(extension)) {
  claim.store(kClosedOffset, std::memory_order_relaxed);
}

LogFile::~LogFile() {
  boost::lock_guard<boost::mutex> guard(diskLock);
  if (sink.isOpened() && !closed.load(std::memory_order_relaxed)) {
    // Waits for the writers still copying their records in.
    sendHalf(true);
  }
}

void LogFile::writeOverflowing(std::uint64_t claimed, const void* bytes, std::size_t length) {
  for (;;) {
    const std::uint64_t generation = claimed >> kGenerationShift;
    const std::uint64_t offset = claimed & kOffsetMask;
    if (offset >= kClosedOffset) {
      // Not opened yet, or closed for good.
      if (closed.load(std::memory_order_acquire)) {
        // A long-dead file's claims would reach the generation bits.
        if (offset >= 2 * kClosedOffset) {
          claim.store((generation << kGenerationShift) | kClosedOffset, std::memory_order_relaxed);
        }
        return;
      }
      boost::lock_guard<boost::mutex> guard(diskLock);
      if (!sink.isOpened()) {
        if (!sink.open()) {
          closed.store(true, std::memory_order_release);
          return;
        }
        buffer.reset(new char[2 * kBufferSize]);
        halfBytes[0] = buffer.get();
        halfBytes[1] = buffer.get() + kBufferSize;
        claim.store(std::uint64_t{1} << kGenerationShift, std::memory_order_release);
      }
    } else if (offset + length > kBufferSize) {
      Half& half = halves[generation & 1];
      // The one claim that crossed the end sends the half, with its own record
      // right after it; later claims wait for the next half.
      const bool crossedTheEnd = offset <= kBufferSize;
      if (crossedTheEnd) {
        half.end = offset;
        half.pending = bytes;
        half.pendingLength = length;
      }
      stripes[ownStripe()].settled[generation & 1].fetch_add(length, std::memory_order_release);
      if (crossedTheEnd) {
        boost::lock_guard<boost::mutex> guard(diskLock);
        // Unless closing sent the half (and the record) already.
        if ((claim.load(std::memory_order_relaxed) >> kGenerationShift) == generation) {
          sendHalf(false);
        }
        return;
      }
      boost::unique_lock<boost::mutex> wait(swapLock);
      while ((claim.load(std::memory_order_acquire) >> kGenerationShift) == generation) {
        swapped.wait(wait);
      }
    } else {
      const std::size_t place = generation & 1;
      std::memcpy(halfBytes[place] + offset, bytes, length);
      stripes[ownStripe()].settled[place].fetch_add(length, std::memory_order_release);
      return;
    }
    claimed = claim.fetch_add(length, std::memory_order_acquire);
  }
}

unsigned LogFile::takeStripe() {
  // Taking turns: two threads never share a stripe until there are more
  // threads than stripes.
  static std::atomic<unsigned> taken{0};
  const unsigned stripe = taken.fetch_add(1, std::memory_order_relaxed) % kStripes;
  logFileStripe = stripe + 1;
  return stripe;
}

std::uint64_t LogFile::settledBytes(std::size_t half) const {
  std::uint64_t sum = 0;
  for (const Stripe& stripe : stripes) sum += stripe.settled[half].load(std::memory_order_acquire);
  return sum;
}

void LogFile::sendHalf(bool close) {
  const std::uint64_t generation = claim.load(std::memory_order_relaxed) >> kGenerationShift;
  Half& full = halves[generation & 1];
  // The other half was sent before diskLock came to this thread, and every
  // writer of its generation had settled before that.
  for (Stripe& stripe : stripes) stripe.settled[(generation + 1) & 1].store(0, std::memory_order_relaxed);
  std::uint64_t finalClaim;
  {
    boost::lock_guard<boost::mutex> guard(swapLock);
    if (close) closed.store(true, std::memory_order_release);
    finalClaim = claim.exchange(((generation + 1) << kGenerationShift) | (close ? kClosedOffset : 0),
                                std::memory_order_acq_rel);
  }
  swapped.notify_all();
  // The writers still copying their records in take a few instructions more;
  // they hold no lock this could wait on instead.
  const std::uint64_t claimedBytes = finalClaim & kOffsetMask;
  // Each stripe only grows within a generation, so the sum reaches the
  // claimed bytes only once every stripe has all of its own.
  while (settledBytes(generation & 1) != claimedBytes) {
    std::this_thread::yield();
  }
  const bool overflowed = claimedBytes > kBufferSize;
  sink.write(halfBytes[generation & 1], overflowed ? full.end : claimedBytes);
  if (overflowed) sink.write(static_cast<const char*>(full.pending), full.pendingLength);
  // A file that failed takes no more records: what is on disk stays a prefix.
  if (!sink.isWritable() && !close) sendHalf(true);
}

}  // namespace kolvaprof
