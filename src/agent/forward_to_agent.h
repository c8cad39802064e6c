#pragma once

#include "agent/jvmti_logging_agent.h"
#include "capture/callback_gate.h"

namespace kolvaprof {

// How every event callback reaches the agent, through the callback gate.
template <typename Work>
void forwardToAgent(Work work) {
  throughCallbackGate([&] {
    if (CJVMTILoggingAgent* agent = getAgent(nullptr)) work(*agent);
  });
}

}  // namespace kolvaprof
