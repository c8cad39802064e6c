#pragma once

#include <jvmti.h>

namespace kolvaprof {

// The callback table the agent installs: exactly its nine events.
jvmtiEventCallbacks makeEventCallbacks();

}  // namespace kolvaprof
