#pragma once

#include <jvmti.h>

namespace kolvaprof {

// The callback table the agent installs: exactly its eight events.
jvmtiEventCallbacks makeEventCallbacks();

}  // namespace kolvaprof
