#pragma once

#include <jni.h>

#include "bytecode/hook_threads.h"
#include "core/call_site.h"

namespace kolvaprof {

class BytecodeEngine;

// A hook call as the core sees it. The caller is the hook frame below this
// one; the receiver is the object the hook passed, the number the object's
// class kept for it, or for a constructor the number its chain keeps for the
// object.
class HookCallSite final : public CallSite {
 public:
  HookCallSite(BytecodeEngine& engine, JNIEnv* jni, ThreadKey thread, HookFrames& frames,
               std::size_t index, jobject receiver, int64_t receiverNumber = 0)
      : CallSite(thread),
        engine(engine),
        jni(jni),
        frames(frames),
        index(index),
        receiver(receiver),
        receiverNumber(receiverNumber) {}

  const MethodInfo* callerMethod() override;
  std::string callerLocation(CallerLocation what) override;
  int64_t receiverTag() override;

 private:
  BytecodeEngine& engine;
  JNIEnv* jni;
  HookFrames& frames;
  std::size_t index;
  jobject receiver;
  int64_t receiverNumber;
};

}  // namespace kolvaprof
