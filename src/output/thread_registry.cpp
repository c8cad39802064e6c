#include "output/thread_registry.h"

#include <vector>

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof {

__thread CachedContext cachedContext __attribute__((tls_model("initial-exec")));

namespace {

std::atomic<std::uint64_t> lastInstanceId{0};

const std::string kVirtualThreadNamePrefix = "VirtualThread-";

}  // namespace

bool ThreadRegistry::isGeneratedVirtualName(const std::string& name) const {
  // Names already generated; later ones skip the names of platform threads.
  if (unnamedVirtualThreadCount == 0) return false;
  if (name.compare(0, kVirtualThreadNamePrefix.size(), kVirtualThreadNamePrefix) != 0) return false;
  const std::string digits = name.substr(kVirtualThreadNamePrefix.size());
  if (digits.empty() || digits.size() > 18 || digits.front() == '0' ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  return std::stoll(digits) <= unnamedVirtualThreadCount;
}

ThreadRegistry::ThreadRegistry() : instanceId(++lastInstanceId) {}
ThreadRegistry::~ThreadRegistry() = default;

void ThreadRegistry::onThreadStart(ThreadKey key, const std::string& name) {
  boost::lock_guard<boost::mutex> guard(registryLock);
  threadNames[key] = name;
}

void ThreadRegistry::nameIfUnknown(ThreadKey key, const std::string& name) {
  boost::lock_guard<boost::mutex> guard(registryLock);
  threadNames.emplace(key, name);
}

void ThreadRegistry::onVirtualThreadStart(ThreadKey key, const std::string& name) {
  boost::lock_guard<boost::mutex> guard(registryLock);
  std::string given = name;
  if (given.empty()) {
    do {
      given = kVirtualThreadNamePrefix + std::to_string(++unnamedVirtualThreadCount);
    } while (givenNames.count(given) != 0);
  }
  virtualThreadNames[key] = std::move(given);
}

ThreadRegistry::NewThread ThreadRegistry::registerThread(ThreadKey key) {
  boost::lock_guard<boost::mutex> guard(registryLock);
  NewThread thread;
  const auto virtualName = virtualThreadNames.find(key);
  thread.isVirtual = virtualName != virtualThreadNames.end();
  thread.name = thread.isVirtual ? virtualName->second : uniqueNameLocked(key);
  thread.number = nextThreadNumber++;
  return thread;
}

int32_t ThreadRegistry::threadsNumbered() {
  boost::lock_guard<boost::mutex> guard(registryLock);
  return nextThreadNumber;
}

ThreadContext* ThreadRegistry::findContextLocked(ThreadKey key) {
  // Read before the lookup: a removal after it makes the cache stale.
  const std::uint64_t seen = removals.load(std::memory_order_acquire);
  ThreadContext* context = nullptr;
  {
    boost::lock_guard<boost::mutex> guard(registryLock);
    const auto found = contexts.find(key);
    if (found != contexts.end()) context = found->second.get();
  }
  if (context != nullptr) cachedContext = CachedContext{instanceId, key, context, seen};
  return context;
}

ThreadContext* ThreadRegistry::addContext(ThreadKey key, std::unique_ptr<ThreadContext> context) {
  ThreadContext* const filed = context.get();
  {
    boost::lock_guard<boost::mutex> guard(registryLock);
    std::unique_ptr<ThreadContext>& slot = contexts[key];
    if (slot) removals.fetch_add(1, std::memory_order_acq_rel);
    slot.swap(context);
  }
  // The context it replaced is destroyed here, outside the lock, closing its file.
  return filed;
}

void ThreadRegistry::onThreadEnd(ThreadKey key) {
  std::unique_ptr<ThreadContext> ended;
  {
    boost::lock_guard<boost::mutex> guard(registryLock);
    virtualThreadNames.erase(key);
    const auto found = contexts.find(key);
    if (found == contexts.end()) return;
    ended = std::move(found->second);
    contexts.erase(found);
    removals.fetch_add(1, std::memory_order_acq_rel);
  }
  ended->threadEnded();
}

void ThreadRegistry::destroyAllContexts() {
  std::vector<std::unique_ptr<ThreadContext>> remaining;
  {
    boost::lock_guard<boost::mutex> guard(registryLock);
    for (auto& entry : contexts) remaining.push_back(std::move(entry.second));
    contexts.clear();
    removals.fetch_add(1, std::memory_order_acq_rel);
  }
}

void ThreadRegistry::reset() {
  destroyAllContexts();
  boost::lock_guard<boost::mutex> guard(registryLock);
  threadNames.clear();
  nameUseCounts.clear();
  givenNames.clear();
  nextThreadNumber = 0;
  unnamedThreadCount = 0;
  virtualThreadNames.clear();
  unnamedVirtualThreadCount = 0;
}

std::string ThreadRegistry::uniqueNameLocked(ThreadKey key) {
  auto named = threadNames.find(key);
  if (named == threadNames.end()) {
    named = threadNames.emplace(key, "UnknownThread" + std::to_string(++unnamedThreadCount)).first;
  }
  const std::string& name = named->second;
  int32_t& uses = nameUseCounts[name];
  std::string given = ++uses == 1 ? name : name + "(" + std::to_string(uses) + ")";
  while (isGeneratedVirtualName(given) || !givenNames.insert(given).second) {
    given = name + "(" + std::to_string(++uses) + ")";
  }
  return given;
}

}  // namespace kolvaprof
