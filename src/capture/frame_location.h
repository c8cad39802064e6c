#pragma once

#include <jvmti.h>

#include <string>

#include "core/call_site.h"

namespace kolvaprof {

// What the VM can say about code locations, asked once at start-up.
struct LocationSupport {
  bool bytecodeIndex = false;  // jlocations are bytecode indexes
  bool lineNumbers = false;
};

LocationSupport locationSupport(jvmtiEnv* env);

// Where the frame `depth` levels below the current one (on the current
// thread) stands, as a caller location record shows it: its bytecode index
// or its source line; "-1" when the VM cannot tell.
std::string frameLocation(jvmtiEnv* env, jint depth, CallerLocation what,
                          const LocationSupport& support);

}  // namespace kolvaprof
