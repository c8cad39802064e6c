#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "registry/method_info.h"

namespace kolvaprof {

// The records of rewritten methods by the number their hook calls pass,
// handed out at rewrite time, before the VM has a jmethodID for the method.
// Hooks look numbers up on every call without a lock; records are only added
// and live as long as the process, since daemon threads may still call hooks
// while the VM exits.
class MethodCatalogue {
 public:
  // Numbers go on from `numberedBefore`: code rewritten by an engine of an
  // earlier run may still be running and pass its numbers, which no record
  // of this catalogue then answers.
  explicit MethodCatalogue(int32_t numberedBefore = 0);
  ~MethodCatalogue();
  MethodCatalogue(const MethodCatalogue&) = delete;
  MethodCatalogue& operator=(const MethodCatalogue&) = delete;

  // The record's number, from 1 up; 0 when the table is full. A
  // constructor's record carries its classfile::constructorKey.
  int32_t add(std::unique_ptr<MethodInfo> info, int32_t constructorKey = 0);
  // The highest number handed out so far.
  int32_t lastNumber();
  // Null for a number never handed out.
  const MethodInfo* find(int32_t number) const;
  // The key given with the record; only for a number find() has answered.
  int32_t constructorKey(int32_t number) const {
    return keys[number >> kChunkBits].load(std::memory_order_relaxed)[number & (kChunkSize - 1)];
  }

 private:
  static constexpr int kChunkBits = 12;
  static constexpr int32_t kChunkSize = 1 << kChunkBits;
  static constexpr int32_t kChunks = 1 << 15;
  using Slot = std::atomic<const MethodInfo*>;

  std::unique_ptr<std::atomic<Slot*>[]> chunks;
  // Written before the record's slot is published.
  std::unique_ptr<std::atomic<int32_t*>[]> keys;
  boost::mutex writerLock;
  std::vector<std::unique_ptr<MethodInfo>> owned;
  int32_t assigned = 0;
};

}  // namespace kolvaprof
