#pragma once

#include <jvmti.h>

#include "agent/virtual_thread_events.h"

namespace kolvaprof {

// The callback table the agent installs: exactly its nine events.
jvmtiEventCallbacks makeEventCallbacks();
// The same with the two virtual-thread events, for VMs that offer them.
EventCallbacksWithVirtualThreads makeEventCallbacksWithVirtualThreads();

}  // namespace kolvaprof
