#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "output/thread_key.h"

namespace kolvaprof {

class MethodInfo;

// One rewritten method running on a thread, entered through a hook and not
// yet left.
struct HookFrame {
  const MethodInfo* info;
  int32_t number;
  // For a constructor, the frame of the first constructor of its object's
  // chain (itself, or the constructor whose super(...) or this(...) call it
  // runs for), which holds the object's number; -1 for other methods.
  int32_t chainRoot;
  int64_t tag;  // the chain root's receiver number, once asked for
  bool awaitingSuper;  // between chainInit and bindInit
  // While awaitingSuper: the constructorKey of the constructor called.
  int32_t superKey;
  // The VM's id of the method, taken only when caller locations need it, or
  // for a constructor waiting on its super(...) call once its frame was
  // looked for.
  jmethodID method;
};

struct HookFrames : std::vector<HookFrame> {
  // Frames awaitingSuper: while there are some, an object met for the first
  // time may be one whose constructors wait on a superclass constructor
  // without hooks (which called back one of its methods).
  int32_t awaiting = 0;
  // The thread's name was looked for (a thread already running when the
  // agent was attached).
  bool named = false;
};

// The frames the thread found last, kept per OS thread. Initial-exec: read
// on every hook. A library attached to a running VM takes these few bytes
// from the static TLS the loader keeps spare.
struct CachedHookFrames {
  std::uint64_t owner = 0;
  ThreadKey key = nullptr;
  std::uint64_t removals = 0;
  HookFrames* frames = nullptr;
};
extern __thread CachedHookFrames cachedHookFrames __attribute__((tls_model("initial-exec")));

// The hook frames of every thread by key. Each thread reaches its own through
// a per-OS-thread cache; only the thread itself touches its frames.
class HookThreads {
 public:
  HookThreads();
  // Inline up to the cache, which answers nearly every hook.
  HookFrames& framesOf(ThreadKey key) {
    const CachedHookFrames& cached = cachedHookFrames;
    if (cached.owner == instanceId && cached.key == key &&
        cached.removals == removals.load(std::memory_order_acquire)) {
      return *cached.frames;
    }
    return framesOfLocked(key);
  }
  // Drops a thread's frames when it ends (its key may be used again).
  void forget(ThreadKey key);

 private:
  HookFrames& framesOfLocked(ThreadKey key);

  boost::mutex lock;
  std::unordered_map<ThreadKey, std::unique_ptr<HookFrames>> threads;
  // Bumped whenever a thread's frames are dropped: a carrier caches the
  // frames of the virtual thread it last ran, and a virtual thread ending
  // elsewhere (whose key a new one may take) cannot clear that cache.
  std::atomic<std::uint64_t> removals{0};
  // Tells the engines of successive runs apart in the per-thread cache, also
  // when one takes the address of another.
  const std::uint64_t instanceId;
};

}  // namespace kolvaprof
