#include "bytecode/hook_threads.h"

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof {
namespace {

struct CachedFrames {
  std::uint64_t owner = 0;
  ThreadKey key = nullptr;
  std::uint64_t removals = 0;
  HookFrames* frames = nullptr;
};

// Initial-exec: read on every hook. A library attached to a running VM
// takes these few bytes from the static TLS the loader keeps spare.
__attribute__((tls_model("initial-exec"))) thread_local CachedFrames cached;

std::atomic<std::uint64_t> lastInstanceId{0};

}  // namespace

HookThreads::HookThreads() : instanceId(++lastInstanceId) {}

HookFrames& HookThreads::framesOf(ThreadKey key) {
  if (cached.owner == instanceId && cached.key == key &&
      cached.removals == removals.load(std::memory_order_acquire)) {
    return *cached.frames;
  }
  boost::lock_guard<boost::mutex> guard(lock);
  std::unique_ptr<HookFrames>& frames = threads[key];
  if (!frames) frames = std::make_unique<HookFrames>();
  cached = CachedFrames{instanceId, key, removals.load(std::memory_order_relaxed), frames.get()};
  return *frames;
}

void HookThreads::forget(ThreadKey key) {
  if (cached.owner == instanceId && cached.key == key) cached = CachedFrames{};
  boost::lock_guard<boost::mutex> guard(lock);
  if (threads.erase(key) != 0) removals.fetch_add(1, std::memory_order_release);
}

}  // namespace kolvaprof
