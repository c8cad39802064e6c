#include "capture/callback_gate.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "capture/vm_phase.h"

namespace kolvaprof {

// Each thread counts its own callbacks in a slot of its own, so the per-call
// cost is a store to memory no other thread writes, instead of traffic on one
// shared counter. A callback raises its count and only then looks at the
// gate; teardown closes the gate and only then reads the counts. Either the
// callback must see the gate closed or teardown must see the callback
// counted; what forbids the third outcome (each missing the other's store) is
// a full barrier between the store and the load on both sides.
//
// Callbacks run millions of times, teardown once, so where the kernel offers
// it teardown pays for both barriers: the callback's store and load are only
// kept in program order by the compiler, and teardown, after closing the
// gate, has membarrier() run a full barrier on every running thread of the
// process (a thread that is not running has one already, from its context
// switch). Take any callback: if its barrier falls after its count store, the
// store is visible once membarrier returns, before teardown reads the count;
// if it falls before the store, the gate load comes after that barrier, which
// itself comes after teardown's close (membarrier starts with a full barrier
// on the calling thread), so the load sees the gate closed. Without
// membarrier both sides stay sequentially consistent.
namespace {

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
// Touched only when a thread takes its slot: a thread-local with a
// destructor is reached through a call on every use, so the per-event path
// reads the plain pointer instead.
struct SlotRelease {
  InFlightSlot* slot = nullptr;
  ~SlotRelease() {
    if (slot != nullptr) slot->inUse.store(false, std::memory_order_release);
  }
};
thread_local SlotRelease slotRelease;

long membarrierCall(int command) { return ::syscall(__NR_membarrier, command, 0, 0); }

// Registered when the library is loaded, before any callback can run, and
// never changed, so both sides agree on which protocol is in force.
bool registerAsymmetricGate() {
  const long commands = membarrierCall(MEMBARRIER_CMD_QUERY);
  if (commands < 0 || (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
  return membarrierCall(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
}
}  // namespace

__thread InFlightSlot* detail::ownSlot __attribute__((tls_model("initial-exec"))) = nullptr;
std::atomic<bool> detail::gateClosed{false};
const bool detail::asymmetricGate = registerAsymmetricGate();

InFlightSlot* detail::takeSlot() {
  ownSlot = slots().acquire();
  slotRelease.slot = ownSlot;
  return ownSlot;
}

void closeCallbackGateAndWait() {
  detail::gateClosed.store(true, std::memory_order_seq_cst);
  if (detail::asymmetricGate && membarrierCall(MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0) {
    // Once registered the call does not fail; should it all the same, a
    // store buffer drains within microseconds, far sooner than this.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (InFlightSlot* slot : slots().snapshot()) {
    while (slot->depth.load(std::memory_order_acquire) != 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
}

void reopenCallbackGate() { detail::gateClosed.store(false, std::memory_order_seq_cst); }

}  // namespace kolvaprof
