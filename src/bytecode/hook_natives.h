#pragma once

#include <jni.h>

namespace kolvaprof {

// The native methods of the hooks class, one per classfile::Hook in its order:
// thin functions that hand each hook call to the bytecode engine while the
// VM is live, and never let an exception out.
const JNINativeMethod* hookNatives();

}  // namespace kolvaprof
