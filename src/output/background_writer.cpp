#include "output/background_writer.h"

#include <pthread.h>
#include <signal.h>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/thread.hpp>

#include "output/file_sink.h"

namespace kolvaprof {

// The thread that takes full per-thread buffers to the disk: a traced thread
// would otherwise stop at every megabyte for the system's copy into its page
// cache, and for compression in compact logs, which together cost more than
// the records' own making. Writes keep their order, so each file still grows
// by whole buffers, one after another.
class BackgroundWriter {
 public:
  static BackgroundWriter& instance() {
    // Never destroyed: a daemon thread's last buffer may come while the
    // process ends.
    static BackgroundWriter* writer = [] {
      made = new BackgroundWriter;
      pthread_atfork([] { made->lock.lock(); }, [] { made->lock.unlock(); },
                     [] { made->afterFork(); });
      return made;
    }();
    return *writer;
  }

  // False when there is no writer thread: the caller writes itself.
  bool enqueue(PendingWrite& write) {
    boost::lock_guard<boost::mutex> guard(lock);
    if (!running) return false;
    write.next = nullptr;
    (last != nullptr ? last->next : first) = &write;
    last = &write;
    ++handedOff;
    work.notify_one();
    return true;
  }

  void waitUntilWritten(PendingWrite& write) {
    boost::unique_lock<boost::mutex> guard(lock);
    while (write.inFlight.load(std::memory_order_acquire)) written.wait(guard);
  }

  void settle() {
    boost::unique_lock<boost::mutex> guard(lock);
    const unsigned long long wanted = handedOff;
    while (done < wanted) written.wait(guard);
  }

 private:
  BackgroundWriter() {
    // The thread takes no signals: those meant for the process go to the
    // VM's own threads, which expect them.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
      boost::thread thread([this] { run(); });
      thread.detach();
      running = true;
    } catch (...) {
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }

  // A child has no writer thread: it writes itself. The buffers in flight
  // are the parent's to write, not written twice.
  void afterFork() {
    running = false;
    if (current != nullptr) current->inFlight.store(false, std::memory_order_relaxed);
    for (PendingWrite* write = first; write != nullptr; write = write->next) {
      write->inFlight.store(false, std::memory_order_relaxed);
    }
    first = last = current = nullptr;
    handedOff = done = 0;
    lock.unlock();
  }

  void run() {
    // Told apart from the VM's threads in a thread listing.
    pthread_setname_np(pthread_self(), "kolvaprof-write");
    boost::unique_lock<boost::mutex> guard(lock);
    for (;;) {
      while (first == nullptr) work.wait(guard);
      PendingWrite& write = *first;
      first = write.next;
      if (first == nullptr) last = nullptr;
      current = &write;
      guard.unlock();
      write.sink->write(write.bytes, write.length);
      guard.lock();
      current = nullptr;
      write.inFlight.store(false, std::memory_order_release);
      ++done;
      written.notify_all();
    }
  }

  static BackgroundWriter* made;

  boost::mutex lock;
  boost::condition_variable work;
  boost::condition_variable written;
  PendingWrite* first = nullptr;
  PendingWrite* last = nullptr;
  PendingWrite* current = nullptr;  // being written
  unsigned long long handedOff = 0;
  unsigned long long done = 0;
  bool running = false;
};

BackgroundWriter* BackgroundWriter::made = nullptr;

void PendingWrite::start(FileSink& target, const char* data, std::size_t size) {
  finish();
  sink = &target;
  bytes = data;
  length = size;
  inFlight.store(true, std::memory_order_release);
  if (BackgroundWriter::instance().enqueue(*this)) return;
  inFlight.store(false, std::memory_order_release);
  target.write(data, size);
}

void PendingWrite::waitUntilWritten() { BackgroundWriter::instance().waitUntilWritten(*this); }

void settleBackgroundWrites() { BackgroundWriter::instance().settle(); }

}  // namespace kolvaprof
