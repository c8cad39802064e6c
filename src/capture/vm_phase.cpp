#include "capture/vm_phase.h"

#include <atomic>

namespace kolvaprof {

std::atomic<int> detail::vmPhase{static_cast<int>(VmPhase::NotStarted)};

void setVmPhase(VmPhase next) {
  detail::vmPhase.store(static_cast<int>(next), std::memory_order_release);
}

bool isVmStarted() { return currentVmPhase() != VmPhase::NotStarted; }

bool isVmDead() { return currentVmPhase() == VmPhase::Dead; }

}  // namespace kolvaprof
