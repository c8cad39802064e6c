#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "registry/method_table.h"

namespace {

using Table = kolvaprof::MethodTable<std::uintptr_t>;
using kolvaprof::MethodKey;

// Method identifiers are aligned pointers; the table never dereferences them.
MethodKey key(std::uintptr_t n) { return reinterpret_cast<MethodKey>((n + 1) * 16); }
std::uintptr_t valueFor(std::uintptr_t n) { return n * 7 + 3; }

TEST(MethodTable, FindInsertReplaceClear) {
  Table table;
  EXPECT_EQ(table.find(key(1)), 0u);
  EXPECT_FALSE(table.contains(key(1)));
  EXPECT_EQ(table.size(), 0u);

  EXPECT_EQ(table.insert(key(1), 11), 0u);
  EXPECT_EQ(table.insert(key(2), 22), 0u);
  EXPECT_EQ(table.find(key(1)), 11u);
  EXPECT_TRUE(table.contains(key(2)));
  EXPECT_FALSE(table.contains(key(3)));

  EXPECT_EQ(table.insert(key(1), 111), 11u);
  EXPECT_EQ(table.find(key(1)), 111u);
  EXPECT_EQ(table.size(), 2u);

  table.clear();
  EXPECT_EQ(table.size(), 0u);
  EXPECT_FALSE(table.contains(key(1)));
  EXPECT_EQ(table.find(key(2)), 0u);
  EXPECT_EQ(table.insert(key(2), 5), 0u);
  EXPECT_EQ(table.find(key(2)), 5u);
}

TEST(MethodTable, GrowsPastItsFirstCapacity) {
  Table table;
  const std::uintptr_t count = 5000;
  for (std::uintptr_t n = 0; n < count; ++n) table.insert(key(n), valueFor(n));
  EXPECT_EQ(table.size(), count);
  for (std::uintptr_t n = 0; n < count; ++n) ASSERT_EQ(table.find(key(n)), valueFor(n)) << n;
  EXPECT_FALSE(table.contains(key(count)));

  std::size_t visited = 0;
  table.forEach([&](MethodKey k, std::uintptr_t v) {
    const std::uintptr_t n = reinterpret_cast<std::uintptr_t>(k) / 16 - 1;
    EXPECT_EQ(v, valueFor(n));
    ++visited;
  });
  EXPECT_EQ(visited, count);
}

TEST(MethodTable, ConcurrentReadersAlwaysSeePublishedKeys) {
  Table table;
  const std::uintptr_t count = 100000;
  std::atomic<std::uintptr_t> published{0};
  std::atomic<bool> failed{false};

  auto reader = [&](unsigned seed) {
    std::mt19937 random(seed);
    std::uintptr_t lookups = 0;
    for (;;) {
      const std::uintptr_t known = published.load(std::memory_order_acquire);
      if (known > 0) {
        const std::uintptr_t n = random() % known;
        if (table.find(key(n)) != valueFor(n) || !table.contains(key(n))) failed = true;
      }
      // A key being inserted right now is either absent or complete.
      const std::uintptr_t racing = table.find(key(known));
      if (racing != 0 && racing != valueFor(known)) failed = true;
      ++lookups;
      if (known == count) break;
    }
    EXPECT_GT(lookups, 0u);
  };

  std::thread first(reader, 1u);
  std::thread second(reader, 2u);
  for (std::uintptr_t n = 0; n < count; ++n) {
    table.insert(key(n), valueFor(n));
    published.store(n + 1, std::memory_order_release);
  }
  first.join();
  second.join();
  EXPECT_FALSE(failed);
  EXPECT_EQ(table.size(), count);
}

}  // namespace
