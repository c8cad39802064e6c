#include "output/block_compressor.h"

#include <pthread.h>
#include <signal.h>

#include <new>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/thread.hpp>

#include "output/file_sink.h"

namespace kolvaprof {

BlockCompressor& BlockCompressor::instance() {
  // Never destroyed: its thread may still be waiting when the process ends.
  static BlockCompressor* compressor = [] {
    auto* made = new BlockCompressor;
    pthread_atfork([] { instance().lock.lock(); }, [] { instance().lock.unlock(); },
                   [] { instance().forgetThread(); });
    return made;
  }();
  return *compressor;
}

void BlockCompressor::forgetThread() {
  // A forked child has none of the parent's threads: it starts its own if it
  // writes blocks, and the parent's blocks are the parent's to write. The
  // condition still counts the parent's waiters, which the child does not
  // have, so it is made afresh; the old one is only forgotten.
  new (&changed) boost::condition_variable();
  waiting.clear();
  writing = nullptr;
  state = State::kNotStarted;
  lock.unlock();
}

bool BlockCompressor::started() {
  if (state != State::kNotStarted) return state == State::kRunning;
  state = State::kFailed;
  // The VM's signals are for its own threads: this one takes none, so that
  // no handler ever runs on a thread the VM does not know.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  try {
    boost::thread thread([this] { run(); });
    pthread_setname_np(thread.native_handle(), "kolvaprof-pack");
    thread.detach();
    state = State::kRunning;
  } catch (...) {
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return state == State::kRunning;
}

bool BlockCompressor::hand(FileSink& sink, const char* records, std::size_t length) {
  std::vector<char> buffer;
  {
    boost::unique_lock<boost::mutex> guard(lock);
    if (!started()) return false;
    while (waiting.size() >= kWaitingBlocks) changed.wait(guard);
    if (!spare.empty()) {
      buffer = std::move(spare.back());
      spare.pop_back();
    }
  }
  // Copied outside the lock: the compressor goes on with the blocks before.
  try {
    buffer.assign(records, records + length);
    boost::lock_guard<boost::mutex> guard(lock);
    waiting.push_back(Job{&sink, std::move(buffer)});
  } catch (...) {
    // Out of memory: the caller writes this block itself, after the ones
    // before it.
    drain(sink);
    return false;
  }
  changed.notify_all();
  return true;
}

void BlockCompressor::drain(const FileSink& sink) {
  boost::unique_lock<boost::mutex> guard(lock);
  const auto pending = [&] {
    if (writing == &sink) return true;
    for (const Job& job : waiting) {
      if (job.sink == &sink) return true;
    }
    return false;
  };
  while (pending()) changed.wait(guard);
}

void BlockCompressor::run() {
  boost::unique_lock<boost::mutex> guard(lock);
  for (;;) {
    while (waiting.empty()) changed.wait(guard);
    Job job = std::move(waiting.front());
    waiting.pop_front();
    writing = job.sink;
    guard.unlock();
    changed.notify_all();  // room for one more block
    try {
      job.sink->writeBlock(job.records.data(), job.records.size());
    } catch (...) {
      // Out of memory: this block is lost, not torn, and the thread lives on.
    }
    guard.lock();
    writing = nullptr;
    if (spare.size() <= kWaitingBlocks) spare.push_back(std::move(job.records));
    changed.notify_all();
  }
}

}  // namespace kolvaprof
