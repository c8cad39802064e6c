#include "output/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>

#include <boost/thread/lock_guard.hpp>

#include "output/console.h"
#include "output/run_directory.h"

namespace kolvaprof {

__thread unsigned logFileStripe __attribute__((tls_model("initial-exec")));

namespace {

// Numbered names for files that cannot be created under their own name,
// counted across every file of the process.
struct Fallbacks {
  boost::mutex fallbackLock;
  int fallbackCounter = 0;

  int next() {
    boost::lock_guard<boost::mutex> guard(fallbackLock);
    return fallbackCounter++;
  }
};

Fallbacks& fallbacks() {
  static Fallbacks* instance = new Fallbacks;
  return *instance;
}

// Exclusive, so that a name another file holds (another thread's log, say)
// is never truncated.
int createExclusively(const std::string& name) {
  int fd;
  do {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

bool isUsableFileBaseName(const std::string& baseName) {
  if (baseName.empty() || baseName == "." || baseName == "..") return false;
  for (const char c : baseName) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr) {
      return false;
    }
  }
  return true;
}

LogFile::LogFile(std::string directory, std::string baseName, std::string extension,
                 Writers writers)
    : baseName(std::move(baseName)),
      directory(std::move(directory)),
      extension(std::move(extension)),
      writers(writers) {
  // Unopened: the first claim takes the slow way, which opens the file.
  claim.store(kClosedOffset, std::memory_order_relaxed);
}

LogFile::LogFile(std::shared_ptr<RunDirectory> directory, std::string baseName,
                 std::string extension, Writers writers)
    : baseName(std::move(baseName)),
      runDirectory(std::move(directory)),
      extension(std::move(extension)),
      writers(writers) {
  claim.store(kClosedOffset, std::memory_order_relaxed);
}

LogFile::~LogFile() {
  boost::lock_guard<boost::mutex> guard(diskLock);
  if (writers == Writers::One) {
    flushBuffer();
  } else if (opened && !closed.load(std::memory_order_relaxed)) {
    // Waits for the writers still copying their records in.
    sendHalf(true);
  }
  if (fd >= 0) ::close(fd);
}

std::string LogFile::directoryPath() const {
  return runDirectory ? runDirectory->path() : directory;
}

std::string LogFile::fileName() const { return directoryPath() + baseName + extension; }

void LogFile::open() {
  opened = true;
  // A run directory that cannot be made has said so itself.
  if (runDirectory && !runDirectory->claim(true)) return;
  const std::string place = directoryPath();
  openedName = place + baseName + extension;
  if (isUsableFileBaseName(baseName)) {
    fd = createExclusively(openedName);
    if (fd >= 0) return;
  }
  // Numbered names may be taken too, by a thread named "(0)" for one.
  do {
    openedName = place + "(" + std::to_string(fallbacks().next()) + ")" + extension;
    fd = createExclusively(openedName);
  } while (fd < 0 && errno == EEXIST);
  if (fd >= 0) return;
  const int error = errno;
  printMessage(&std::cout, "cannot create log file " + openedName + ": " + std::strerror(error) +
                               "; its records are lost");
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
      if (!opened) {
        open();
        if (fd < 0) {
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
  writeToFile(halfBytes[generation & 1], overflowed ? full.end : claimedBytes);
  if (overflowed) writeToFile(static_cast<const char*>(full.pending), full.pendingLength);
  // A file that failed takes no more records: what is on disk stays a prefix.
  if (fd < 0 && !close) sendHalf(true);
}

void LogFile::append(const void* bytes, std::size_t length) {
  if (!opened) open();
  if (fd < 0) return;  // dead: nothing to keep the records for
  if (!buffer) buffer.reset(new char[kBufferSize]);
  room = kBufferSize;
  if (bufferedBytes + length <= kBufferSize) {
    std::memcpy(buffer.get() + bufferedBytes, bytes, length);
    bufferedBytes += length;
    return;
  }
  writeToFile(buffer.get(), bufferedBytes);
  writeToFile(static_cast<const char*>(bytes), length);
  bufferedBytes = 0;
}

char* LogFile::reserve(std::size_t bound) {
  if (!opened) open();
  if (fd < 0 || bound > kBufferSize) return nullptr;
  if (!buffer) buffer.reset(new char[kBufferSize]);
  room = kBufferSize;
  if (bufferedBytes + bound > kBufferSize) {
    writeToFile(buffer.get(), bufferedBytes);
    bufferedBytes = 0;
    if (fd < 0) return nullptr;
  }
  return buffer.get() + bufferedBytes;
}

void LogFile::flushBuffer() {
  if (buffer) writeToFile(buffer.get(), bufferedBytes);
  bufferedBytes = 0;
}

void LogFile::writeToFile(const char* bytes, std::size_t length) {
  while (fd >= 0 && length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written > 0) {
      // A write that stops short goes on from there, so nothing is skipped.
      bytes += written;
      length -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    // Whatever came after a gap would sit at the wrong offset, so the file
    // ends here, with what reached it before.
    const int error = written < 0 ? errno : EIO;
    ::close(fd);
    fd = -1;
    room = 0;
    printMessage(&std::cout, "cannot write log file " + openedName + ": " + std::strerror(error) +
                                 "; it ends with the records written before");
  }
}

}  // namespace kolvaprof
