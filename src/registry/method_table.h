#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "registry/method_key.h"

namespace kolvaprof {

// A hash table keyed by MethodKey that every Java thread reads on every call
// and that class registration fills now and then. Readers take no lock and
// write no shared memory, so lookups never serialise the threads; writers are
// serialised by the table's own mutex. A slot's value is stored before its key
// is published, and a grown table is complete before it replaces the old one,
// so a reader sees either the whole entry or none of it. Old tables stay alive
// until clear(), which must not run while readers can still look things up;
// they add at most the size of the current table.
template <typename Value>
class MethodTable {
 public:
  MethodTable() { current.store(addTable(kInitialCapacity), std::memory_order_release); }
  MethodTable(const MethodTable&) = delete;
  MethodTable& operator=(const MethodTable&) = delete;

  // The value stored under the key, or Value{} when there is none.
  Value find(MethodKey key) const {
    const Table* table = current.load(std::memory_order_acquire);
    for (std::size_t i = slotFor(key, table->mask);; i = (i + 1) & table->mask) {
      const MethodKey stored = table->slots[i].key.load(std::memory_order_acquire);
      if (stored == key) return table->slots[i].value.load(std::memory_order_acquire);
      if (stored == nullptr) return Value{};
    }
  }

  bool contains(MethodKey key) const {
    const Table* table = current.load(std::memory_order_acquire);
    for (std::size_t i = slotFor(key, table->mask);; i = (i + 1) & table->mask) {
      const MethodKey stored = table->slots[i].key.load(std::memory_order_acquire);
      if (stored == key) return true;
      if (stored == nullptr) return false;
    }
  }

  // Stores or replaces the value under the key; returns the value it replaced,
  // or Value{} for a new key.
  Value insert(MethodKey key, Value value) {
    boost::lock_guard<boost::mutex> guard(writerLock);
    Table* table = current.load(std::memory_order_relaxed);
    if ((count + 1) * 2 > table->mask + 1) {
      table = grow(*table);
    }
    Slot& slot = probe(*table, key);
    if (slot.key.load(std::memory_order_relaxed) == key) {
      return slot.value.exchange(value, std::memory_order_acq_rel);
    }
    slot.value.store(value, std::memory_order_relaxed);
    slot.key.store(key, std::memory_order_release);
    ++count;
    return Value{};
  }

  std::size_t size() const {
    boost::lock_guard<boost::mutex> guard(writerLock);
    return count;
  }

  // Visits every entry; not for use while another thread inserts.
  template <typename Visitor>
  void forEach(Visitor visit) const {
    const Table* table = current.load(std::memory_order_acquire);
    for (std::size_t i = 0; i <= table->mask; ++i) {
      const MethodKey key = table->slots[i].key.load(std::memory_order_acquire);
      if (key != nullptr) visit(key, table->slots[i].value.load(std::memory_order_acquire));
    }
  }

  // Empties the table and frees every old table; no reader may be active.
  void clear() {
    boost::lock_guard<boost::mutex> guard(writerLock);
    tables.clear();
    count = 0;
    current.store(addTable(kInitialCapacity), std::memory_order_release);
  }

 private:
  static constexpr std::size_t kInitialCapacity = 1024;

  struct Slot {
    std::atomic<MethodKey> key{nullptr};
    std::atomic<Value> value{Value{}};
  };
  struct Table {
    explicit Table(std::size_t capacity) : mask(capacity - 1), slots(new Slot[capacity]) {}
    std::size_t mask;
    std::unique_ptr<Slot[]> slots;
  };

  static std::size_t slotFor(MethodKey key, std::size_t mask) {
    // Method identifiers are aligned pointers: mix the bits before masking.
    const std::uint64_t bits = reinterpret_cast<std::uintptr_t>(key);
    return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> 20) & mask;
  }

  static Slot& probe(Table& table, MethodKey key) {
    for (std::size_t i = slotFor(key, table.mask);; i = (i + 1) & table.mask) {
      const MethodKey stored = table.slots[i].key.load(std::memory_order_relaxed);
      if (stored == key || stored == nullptr) return table.slots[i];
    }
  }

  Table* addTable(std::size_t capacity) {
    tables.push_back(std::make_unique<Table>(capacity));
    return tables.back().get();
  }

  Table* grow(const Table& old) {
    Table* bigger = addTable((old.mask + 1) * 2);
    for (std::size_t i = 0; i <= old.mask; ++i) {
      const MethodKey key = old.slots[i].key.load(std::memory_order_relaxed);
      if (key == nullptr) continue;
      Slot& slot = probe(*bigger, key);
      slot.value.store(old.slots[i].value.load(std::memory_order_relaxed), std::memory_order_relaxed);
      slot.key.store(key, std::memory_order_relaxed);
    }
    current.store(bigger, std::memory_order_release);
    return bigger;
  }

  mutable boost::mutex writerLock;
  std::vector<std::unique_ptr<Table>> tables;  // the current one is the last
  std::atomic<Table*> current{nullptr};
  std::size_t count = 0;
};

}  // namespace kolvaprof
