#include "agent/vm_phase.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace kolvaprof {
namespace {

std::atomic<int> phase{static_cast<int>(VmPhase::NotStarted)};

// Bit 0: the gate is closed. The rest: twice the number of callbacks inside.
// A callback only ever adds itself while bit 0 is clear, in one
// compare-and-swap, so once teardown has set the bit the count can only fall.
constexpr std::uint64_t kClosed = 1;
constexpr std::uint64_t kOneCallback = 2;
std::atomic<std::uint64_t> gate{0};

}  // namespace

VmPhase currentVmPhase() { return static_cast<VmPhase>(phase.load(std::memory_order_acquire)); }

void setVmPhase(VmPhase next) { phase.store(static_cast<int>(next), std::memory_order_release); }

bool isVmStarted() { return currentVmPhase() != VmPhase::NotStarted; }

bool isVmDead() { return currentVmPhase() == VmPhase::Dead; }

CallbackScope::CallbackScope() : entered(false) {
  if (currentVmPhase() != VmPhase::Live) return;
  std::uint64_t state = gate.load(std::memory_order_acquire);
  while ((state & kClosed) == 0) {
    if (gate.compare_exchange_weak(state, state + kOneCallback, std::memory_order_acq_rel)) {
      entered = true;
      return;
    }
  }
}

CallbackScope::~CallbackScope() {
  if (entered) gate.fetch_sub(kOneCallback, std::memory_order_acq_rel);
}

void closeCallbackGateAndWait() {
  gate.fetch_or(kClosed, std::memory_order_acq_rel);
  while (gate.load(std::memory_order_acquire) != kClosed) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

}  // namespace kolvaprof
