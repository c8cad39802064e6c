#pragma once

#include "agent/jvmti_logging_agent.h"
#include "capture/callback_gate.h"

namespace kolvaprof {

// How every event callback and hook reaches the agent: only while the VM is
// live, counted in so that teardown waits for it, and with no exception
// leaving for the VM (the event is lost; the traced program must not notice).
template <typename Work>
void forwardToAgent(Work work) {
  CallbackScope scope;
  if (!scope) return;
  CJVMTILoggingAgent* agent = getAgent(nullptr);
  if (agent == nullptr) return;
  try {
    work(*agent);
  } catch (...) {
  }
}

}  // namespace kolvaprof
