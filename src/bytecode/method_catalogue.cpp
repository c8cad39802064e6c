#include "bytecode/method_catalogue.h"

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof {

MethodCatalogue::MethodCatalogue(int32_t numberedBefore)
    : chunks(new std::atomic<Slot*>[kChunks]),
      keys(new std::atomic<int32_t*>[kChunks]),
      assigned(numberedBefore) {
  for (int32_t i = 0; i < kChunks; ++i) {
    chunks[i].store(nullptr, std::memory_order_relaxed);
    keys[i].store(nullptr, std::memory_order_relaxed);
  }
}

MethodCatalogue::~MethodCatalogue() {
  for (int32_t i = 0; i < kChunks; ++i) {
    delete[] chunks[i].load(std::memory_order_relaxed);
    delete[] keys[i].load(std::memory_order_relaxed);
  }
}

int32_t MethodCatalogue::add(std::unique_ptr<MethodInfo> info, int32_t constructorKey) {
  boost::lock_guard<boost::mutex> guard(writerLock);
  const int32_t number = assigned + 1;
  const int32_t chunk = number >> kChunkBits;
  if (chunk >= kChunks) return 0;
  Slot* slots = chunks[chunk].load(std::memory_order_relaxed);
  if (slots == nullptr) {
    slots = new Slot[kChunkSize];
    for (int32_t i = 0; i < kChunkSize; ++i) slots[i].store(nullptr, std::memory_order_relaxed);
    keys[chunk].store(new int32_t[kChunkSize](), std::memory_order_relaxed);
    chunks[chunk].store(slots, std::memory_order_release);
  }
  keys[chunk].load(std::memory_order_relaxed)[number & (kChunkSize - 1)] = constructorKey;
  // The record is complete before its number can reach any hook.
  slots[number & (kChunkSize - 1)].store(info.get(), std::memory_order_release);
  owned.push_back(std::move(info));
  assigned = number;
  return number;
}

int32_t MethodCatalogue::lastNumber() {
  boost::lock_guard<boost::mutex> guard(writerLock);
  return assigned;
}

const MethodInfo* MethodCatalogue::find(int32_t number) const {
  if (number <= 0 || (number >> kChunkBits) >= kChunks) return nullptr;
  const Slot* slots = chunks[number >> kChunkBits].load(std::memory_order_acquire);
  if (slots == nullptr) return nullptr;
  return slots[number & (kChunkSize - 1)].load(std::memory_order_acquire);
}

}  // namespace kolvaprof
