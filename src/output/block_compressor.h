#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

namespace kolvaprof {

class FileSink;

// Compresses compact blocks on a thread of its own, so that a traced thread
// whose buffer is full hands the records over and runs on while a spare core
// packs them. One thread for the process keeps every file's blocks in the
// order they were handed over. Only a few blocks wait at a time: a thread
// that would add one more waits until the oldest is written, so a program
// that outruns the compressor slows to its pace instead of piling up memory,
// and a killed VM loses at most those few blocks more than its buffers.
class BlockCompressor {
 public:
  static constexpr std::size_t kWaitingBlocks = 4;

  static BlockCompressor& instance();

  // Copies `length` bytes of whole records for `sink`, which writes them as
  // a compact block on the compressor's thread. False when no thread could
  // be started or no copy made: the caller writes the block itself, and
  // every block handed over before is written by then.
  bool hand(FileSink& sink, const char* records, std::size_t length);
  // Returns once every block handed over for `sink` is written.
  void drain(const FileSink& sink);

 private:
  struct Job {
    FileSink* sink = nullptr;
    std::vector<char> records;
  };

  BlockCompressor() = default;
  void run();
  bool started();
  // In a forked child, with `lock` held since before the fork.
  void forgetThread();

  boost::mutex lock;
  boost::condition_variable changed;
  std::deque<Job> waiting;
  // The job being written: drained sinks wait for it too.
  const FileSink* writing = nullptr;
  // Spent buffers, kept so that a block costs no fresh pages.
  std::vector<std::vector<char>> spare;
  enum class State { kNotStarted, kRunning, kFailed } state = State::kNotStarted;
};

}  // namespace kolvaprof
