#pragma once

#include <jni.h>

#include <string>

namespace kolvaprof {

// The options string of an agent loaded into a running VM that ends the
// run instead of starting one.
inline constexpr const char* kDetachOption = "detach";

// Agent_OnAttach: with kDetachOption, ends the attached run and gives every
// class its bytes back; with anything else (a settings file, or nothing
// for profiler.ini as at start-up) starts a run with the bytecode engine.
// JNI_OK when it did; otherwise one console line says why and the VM goes
// on as it was.
jint attachOrDetach(JavaVM* vm, const std::string& options);

// VMDeath: ends the run that is going on, if a detach has not ended it.
void endRunAtVmDeath();

}  // namespace kolvaprof
