#include "bytecode/hook_threads.h"

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof {

__thread CachedHookFrames cachedHookFrames __attribute__((tls_model("initial-exec")));

namespace {

std::atomic<std::uint64_t> lastInstanceId{0};

}  // namespace

HookThreads::HookThreads() : instanceId(++lastInstanceId) {}

HookFrames& HookThreads::framesOfLocked(ThreadKey key) {
  boost::lock_guard<boost::mutex> guard(lock);
  std::unique_ptr<HookFrames>& frames = threads[key];
  if (!frames) frames = std::make_unique<HookFrames>();
  cachedHookFrames =
      CachedHookFrames{instanceId, key, removals.load(std::memory_order_relaxed), frames.get()};
  return *frames;
}

void HookThreads::forget(ThreadKey key) {
  if (cachedHookFrames.owner == instanceId && cachedHookFrames.key == key) {
    cachedHookFrames = CachedHookFrames{};
  }
  boost::lock_guard<boost::mutex> guard(lock);
  if (threads.erase(key) != 0) removals.fetch_add(1, std::memory_order_release);
}

}  // namespace kolvaprof
