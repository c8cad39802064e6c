#pragma once

#include <jvmti.h>

#include <cstdint>

namespace kolvaprof {

class CLoggingAgent;

// An object's number is its JVMTI tag, given at the first call that meets
// the object, by whichever engine catches calls. Two threads meeting a new
// object at once must agree on one number: both would otherwise find no tag,
// each log a number of its own, and the later SetTag would win.
//
// The object's number; a new one from the core (or `wanted`, when not 0) if
// it has none yet. 0 for a null object or when the VM refuses the tag.
// An object that has its number costs one GetTag and no lock.
int64_t objectNumber(jvmtiEnv* env, CLoggingAgent& core, jobject object, int64_t wanted = 0);

}  // namespace kolvaprof
