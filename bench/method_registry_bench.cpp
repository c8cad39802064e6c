// Lookups of method records, which every method entry and exit makes, while
// class registration keeps adding records on another thread; an unguarded
// std::unordered_map without a writer is the floor.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <unordered_map>
#include <vector>

#include "registry/method_info.h"
#include "registry/method_key.h"
#include "registry/method_registry.h"
#include "registry/method_table.h"

namespace {

using kolvaprof::MethodInfo;
using kolvaprof::MethodKey;
using kolvaprof::MethodRegistry;
using kolvaprof::MethodTable;

constexpr std::size_t kKnownMethods = 4096;  // looked up; a power of two
constexpr std::size_t kMaxNewMethods = 1 << 18;

MethodKey fakeMethod(std::size_t n) {
  return reinterpret_cast<MethodKey>(static_cast<std::uintptr_t>(0x7f3300000000 + n * 16));
}

std::unique_ptr<MethodInfo> makeInfo() {
  return std::make_unique<MethodInfo>("org.demo", "Bag", "add", std::vector<std::string>{"int"},
                                      "boolean", false, false);
}

const MethodInfo& sampleInfo() {
  static const std::unique_ptr<MethodInfo> info = makeInfo();
  return *info;
}

// The known methods in a fixed random order, so lookups do not walk the
// table's slots in sequence.
const std::vector<MethodKey>& lookupOrder() {
  static const std::vector<MethodKey> order = [] {
    std::vector<MethodKey> keys;
    for (std::size_t i = 0; i < kKnownMethods; ++i) keys.push_back(fakeMethod(i));
    std::shuffle(keys.begin(), keys.end(), std::mt19937(12345));
    return keys;
  }();
  return order;
}

// Registers new methods in small bursts, like classes being prepared, until
// stopped or until kMaxNewMethods were added.
class Inserter {
 public:
  explicit Inserter(std::function<void(MethodKey)> insert)
      : thread([this, insert] {
          std::size_t n = kKnownMethods;
          while (!stop.load(std::memory_order_relaxed) && n < kKnownMethods + kMaxNewMethods) {
            for (int i = 0; i < 16; ++i) insert(fakeMethod(n++));
            inserted.store(n - kKnownMethods, std::memory_order_relaxed);
            std::this_thread::sleep_for(std::chrono::microseconds(20));
          }
        }) {}
  ~Inserter() {
    stop = true;
    thread.join();
  }
  std::size_t count() const { return inserted.load(); }

 private:
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> inserted{0};
  std::thread thread;
};

template <typename Find>
void lookupLoop(benchmark::State& state, Find find) {
  const std::vector<MethodKey>& order = lookupOrder();
  std::size_t i = static_cast<std::size_t>(state.thread_index()) * 997;
  for (auto _ : state) {
    benchmark::DoNotOptimize(find(order[i++ & (kKnownMethods - 1)]));
  }
  state.SetItemsProcessed(state.iterations());
}

MethodTable<const MethodInfo*>* table = nullptr;
Inserter* inserter = nullptr;

// range(0): 1 with a writer thread inserting, 0 without.
void BM_MethodTableFind(benchmark::State& state) {
  if (state.thread_index() == 0) {
    table = new MethodTable<const MethodInfo*>();
    for (std::size_t i = 0; i < kKnownMethods; ++i) table->insert(fakeMethod(i), &sampleInfo());
    if (state.range(0) != 0) {
      inserter = new Inserter([](MethodKey m) { table->insert(m, &sampleInfo()); });
    }
  }
  lookupLoop(state, [](MethodKey m) { return table->find(m); });
  if (state.thread_index() == 0) {
    if (inserter != nullptr) state.counters["inserted"] = static_cast<double>(inserter->count());
    delete inserter;
    inserter = nullptr;
    delete table;
    table = nullptr;
  }
}

void BM_MethodRegistryFind(benchmark::State& state) {
  MethodRegistry& registry = MethodRegistry::instance();
  if (state.thread_index() == 0) {
    for (std::size_t i = 0; i < kKnownMethods; ++i) registry.store(fakeMethod(i), makeInfo());
    inserter = new Inserter([](MethodKey m) { MethodRegistry::instance().store(m, makeInfo()); });
  }
  lookupLoop(state, [&registry](MethodKey m) { return registry.find(m); });
  if (state.thread_index() == 0) {
    state.counters["inserted"] = static_cast<double>(inserter->count());
    delete inserter;
    inserter = nullptr;
    registry.destroyAll();
  }
}

std::unordered_map<MethodKey, const MethodInfo*>* map = nullptr;

void BM_UnorderedMapFind(benchmark::State& state) {
  if (state.thread_index() == 0) {
    map = new std::unordered_map<MethodKey, const MethodInfo*>();
    for (std::size_t i = 0; i < kKnownMethods; ++i) map->emplace(fakeMethod(i), &sampleInfo());
  }
  lookupLoop(state, [](MethodKey m) { return map->find(m)->second; });
  if (state.thread_index() == 0) {
    delete map;
    map = nullptr;
  }
}

}  // namespace

BENCHMARK(BM_UnorderedMapFind)->Name("unordered_map_find/no_writer")->ThreadRange(1, 2)->UseRealTime();
BENCHMARK(BM_MethodTableFind)
    ->Name("MethodTable_find")
    ->ArgName("writer")
    ->Arg(0)
    ->Arg(1)
    ->ThreadRange(1, 2)
    ->UseRealTime();
BENCHMARK(BM_MethodRegistryFind)->Name("MethodRegistry_find/writer")->ThreadRange(1, 2)->UseRealTime();
