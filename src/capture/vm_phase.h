#pragma once

#include <atomic>

// Where the VM is in its life, as the agent last heard it.

namespace kolvaprof {

enum class VmPhase : int { NotStarted = 0, Live = 1, Dead = 2 };

namespace detail {
extern std::atomic<int> vmPhase;
}  // namespace detail

// Inline: every callback asks.
inline VmPhase currentVmPhase() {
  return static_cast<VmPhase>(detail::vmPhase.load(std::memory_order_acquire));
}
void setVmPhase(VmPhase phase);
bool isVmStarted();
bool isVmDead();

}  // namespace kolvaprof
