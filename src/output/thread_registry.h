#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <boost/thread/mutex.hpp>

#include "output/thread_context.h"
#include "output/thread_key.h"

namespace kolvaprof {

// The context this thread found last. Every callback of a thread passes the
// same key, so after the first lookup the entry and exit paths find their
// context without taking registryLock. The cache is trusted only while no
// context has left the registry since it was filled. Plain data (__thread):
// read inline on every call, which a thread_local with a constructor would
// route through a wrapper function. Initial-exec, since in a shared library
// the default model calls __tls_get_addr for each read; the library is
// loaded as the VM starts, and these few bytes fit the static TLS that the
// loader keeps spare for such libraries.
struct CachedContext {
  std::uint64_t registry;
  ThreadKey key;
  ThreadContext* context;
  std::uint64_t removals;
};
extern __thread CachedContext cachedContext __attribute__((tls_model("initial-exec")));

// The process-wide directory of thread names, numbers and contexts, keyed by
// the thread key of each thread. Every table is guarded by registryLock,
// which is never held while a file is opened or written: contexts are
// destroyed (and their files closed) after they leave the table.
class ThreadRegistry {
 public:
  ThreadRegistry();
  ~ThreadRegistry();

  void onThreadStart(ThreadKey key, const std::string& name);
  // For a thread whose start this run did not see (it ran before the agent
  // was attached): the name, unless one was given already.
  void nameIfUnknown(ThreadKey key, const std::string& name);
  // A virtual thread keeps the name it was given, however many others share
  // it (its number tells them apart and no file is named after it); an
  // unnamed one ("") is called VirtualThread-1, VirtualThread-2 ... skipping
  // names that platform threads were given. Forgotten at its end.
  void onVirtualThreadStart(ThreadKey key, const std::string& name);
  // What a thread that logs for the first time is: its unique name and its
  // number, taken together under one lock.
  struct NewThread {
    std::string name;
    int32_t number = 0;
    bool isVirtual = false;
  };
  NewThread registerThread(ThreadKey key);
  // The context filed under the key, or null. A thread finds its own context
  // again without the lock until a context leaves the registry.
  ThreadContext* findContext(ThreadKey key) {
    const CachedContext& cache = cachedContext;
    if (cache.registry == instanceId && cache.key == key &&
        cache.removals == removals.load(std::memory_order_acquire)) {
      return cache.context;
    }
    return findContextLocked(key);
  }
  // Files the context under the key, in place of one filed before.
  ThreadContext* addContext(ThreadKey key, std::unique_ptr<ThreadContext> context);
  void onThreadEnd(ThreadKey key);
  void destroyAllContexts();
  // A new run: no name, number or context of the one before stays; no
  // thread may be logging.
  void reset();
  // How many threads were given a number: those that logged or met a
  // known method.
  int32_t threadsNumbered();


  static ThreadRegistry& instance() {
    // Never destroyed: daemon threads may still deliver events at exit.
    static ThreadRegistry* registry = new ThreadRegistry;
    return *registry;
  }

 private:
  ThreadContext* findContextLocked(ThreadKey key);
  // main, main(2), main(3) ...; UnknownThread1, UnknownThread2 ... for threads
  // whose start was not seen. Never a name given before, since names become
  // file names: a thread named "w(2)" keeps "w(2)" from a second "w".
  std::string uniqueNameLocked(ThreadKey key);
  bool isGeneratedVirtualName(const std::string& name) const;

  boost::mutex registryLock;
  std::unordered_map<ThreadKey, std::string> threadNames;
  std::unordered_map<std::string, int32_t> nameUseCounts;
  std::unordered_set<std::string> givenNames;
  std::unordered_map<ThreadKey, std::unique_ptr<ThreadContext>> contexts;
  int32_t nextThreadNumber = 0;
  int32_t unnamedThreadCount = 0;
  std::unordered_map<ThreadKey, std::string> virtualThreadNames;
  int64_t unnamedVirtualThreadCount = 0;
  // Bumped whenever a context leaves the table; per-thread lookup caches
  // filled under an older value are not trusted.
  std::atomic<std::uint64_t> removals{0};
  // Tells registries apart in the caches even when one reuses another's address.
  const std::uint64_t instanceId;
};

}  // namespace kolvaprof
