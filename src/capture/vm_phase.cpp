#include "capture/vm_phase.h"

#include <atomic>

namespace kolvaprof {
namespace {

std::atomic<int> phase{static_cast<int>(VmPhase::NotStarted)};

}  // namespace

VmPhase currentVmPhase() { return static_cast<VmPhase>(phase.load(std::memory_order_acquire)); }

void setVmPhase(VmPhase next) { phase.store(static_cast<int>(next), std::memory_order_release); }

bool isVmStarted() { return currentVmPhase() != VmPhase::NotStarted; }

bool isVmDead() { return currentVmPhase() == VmPhase::Dead; }

}  // namespace kolvaprof
