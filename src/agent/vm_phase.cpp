#include "agent/vm_phase.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

namespace kolvaprof {

// Each thread counts its own callbacks in a slot of its own, so the per-call
// cost is a store to memory no other thread writes, instead of traffic on one
// shared counter. A callback raises its count and only then looks at the
// gate; teardown closes the gate and only then reads the counts. With both
// sides sequentially consistent, either the callback sees the gate closed or
// teardown sees the callback counted.
struct InFlightSlot {
  std::atomic<int> depth{0};
  std::atomic<bool> inUse{true};
};

namespace {

std::atomic<int> phase{static_cast<int>(VmPhase::NotStarted)};

struct Slots {
  boost::mutex lock;
  std::vector<std::unique_ptr<InFlightSlot>> all;

  InFlightSlot* acquire() {
    boost::lock_guard<boost::mutex> guard(lock);
    for (const auto& slot : all) {
      if (!slot->inUse.load(std::memory_order_acquire)) {
        slot->inUse.store(true, std::memory_order_relaxed);
        return slot.get();
      }
    }
    all.push_back(std::make_unique<InFlightSlot>());
    return all.back().get();
  }

  std::vector<InFlightSlot*> snapshot() {
    boost::lock_guard<boost::mutex> guard(lock);
    std::vector<InFlightSlot*> slots;
    for (const auto& slot : all) slots.push_back(slot.get());
    return slots;
  }
};

// Never destroyed: threads of the VM may deliver events while the process exits.
Slots& slots() {
  static Slots* instance = new Slots;
  return *instance;
}

// Hands the slot back when the thread ends, so thread churn reuses slots.
struct ThreadSlot {
  InFlightSlot* slot = nullptr;
  ~ThreadSlot() {
    if (slot != nullptr) slot->inUse.store(false, std::memory_order_release);
  }
  InFlightSlot& get() {
    if (slot == nullptr) slot = slots().acquire();
    return *slot;
  }
};
thread_local ThreadSlot threadSlot;

std::atomic<bool> gateClosed{false};

}  // namespace

VmPhase currentVmPhase() { return static_cast<VmPhase>(phase.load(std::memory_order_acquire)); }

void setVmPhase(VmPhase next) { phase.store(static_cast<int>(next), std::memory_order_release); }

bool isVmStarted() { return currentVmPhase() != VmPhase::NotStarted; }

bool isVmDead() { return currentVmPhase() == VmPhase::Dead; }

CallbackScope::CallbackScope() : slot(nullptr) {
  if (currentVmPhase() != VmPhase::Live) return;
  InFlightSlot& own = threadSlot.get();
  const int depth = own.depth.load(std::memory_order_relaxed);
  own.depth.store(depth + 1, std::memory_order_seq_cst);
  if (gateClosed.load(std::memory_order_seq_cst)) {
    own.depth.store(depth, std::memory_order_release);
    return;
  }
  slot = &own;
}

CallbackScope::~CallbackScope() {
  if (slot == nullptr) return;
  slot->depth.store(slot->depth.load(std::memory_order_relaxed) - 1, std::memory_order_release);
}

void closeCallbackGateAndWait() {
  gateClosed.store(true, std::memory_order_seq_cst);
  for (InFlightSlot* slot : slots().snapshot()) {
    while (slot->depth.load(std::memory_order_acquire) != 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
}

}  // namespace kolvaprof
