#pragma once

// Where the VM is in its life, as the agent last heard it.

namespace kolvaprof {

enum class VmPhase : int { NotStarted = 0, Live = 1, Dead = 2 };

VmPhase currentVmPhase();
void setVmPhase(VmPhase phase);
bool isVmStarted();
bool isVmDead();

}  // namespace kolvaprof
