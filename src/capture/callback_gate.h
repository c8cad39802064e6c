#pragma once

#include <atomic>

#include "capture/vm_phase.h"

namespace kolvaprof {

// One thread's count of callbacks inside, in a slot that teardown can read.
struct InFlightSlot {
  std::atomic<int> depth{0};
  std::atomic<bool> inUse{true};
};

namespace detail {
// This thread's slot once it has one. Initial-exec, like the other caches
// read on every hook.
extern __thread InFlightSlot* ownSlot __attribute__((tls_model("initial-exec")));
InFlightSlot* takeSlot();
extern std::atomic<bool> gateClosed;
extern const bool asymmetricGate;
}  // namespace detail

// Counts an event callback in while the VM is live. Teardown closes the gate
// and then waits until every callback that got in has left, so that no
// callback touches the agent or its logs once their destruction has begun.
// Inline: every hook passes through one. How the counts and the gate agree
// is set out where teardown reads them, in callback_gate.cpp.
class CallbackScope {
 public:
  CallbackScope() : slot(nullptr) {
    if (currentVmPhase() != VmPhase::Live) return;
    InFlightSlot* own = detail::ownSlot;
    if (own == nullptr) own = detail::takeSlot();
    const int depth = own->depth.load(std::memory_order_relaxed);
    bool closed;
    if (detail::asymmetricGate) {
      own->depth.store(depth + 1, std::memory_order_relaxed);
      std::atomic_signal_fence(std::memory_order_seq_cst);
      closed = detail::gateClosed.load(std::memory_order_relaxed);
    } else {
      own->depth.store(depth + 1, std::memory_order_seq_cst);
      closed = detail::gateClosed.load(std::memory_order_seq_cst);
    }
    if (closed) {
      own->depth.store(depth, std::memory_order_release);
      return;
    }
    slot = own;
  }
  ~CallbackScope() {
    if (slot == nullptr) return;
    slot->depth.store(slot->depth.load(std::memory_order_relaxed) - 1,
                      std::memory_order_release);
  }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;

  explicit operator bool() const { return slot != nullptr; }

 private:
  InFlightSlot* slot;  // this thread's count, while the callback is inside
};

// Shuts the gate and returns once no callback is inside.
void closeCallbackGateAndWait();
// Lets callbacks in again, once a detached run is torn down: whatever they
// reach then belongs to no run, or to the next one.
void reopenCallbackGate();

// How every event callback and hook runs its work: only while the VM is
// live, counted in so that teardown waits for it, and with no exception
// leaving for the VM (the event is lost; the traced program must not notice).
template <typename Work>
void throughCallbackGate(Work&& work) {
  CallbackScope scope;
  if (!scope) return;
  try {
    work();
  } catch (...) {
  }
}

}  // namespace kolvaprof
