#pragma once

#include <jni.h>

#include "bytecode/hook_threads.h"
#include "core/call_site.h"

namespace kolvaprof {

class BytecodeEngine;

// A hook call as the core sees it. The caller is the hook frame below this
// one; the receiver is the object the hook passed, or for a constructor the
// number its chain keeps for the object.
class HookCallSite final : public CallSite {
 public:
  HookCallSite(BytecodeEngine& engine, ThreadKey thread, HookFrames& frames, std::size_t index,
               jobject receiver)
      : CallSite(thread), engine(engine), frames(frames), index(index), receiver(receiver) {}

  const MethodInfo* callerMethod() override;
  std::string callerLocation(CallerLocation what) override;
  int64_t receiverTag() override;

 private:
  BytecodeEngine& engine;
  HookFrames& frames;
  std::size_t index;
  jobject receiver;
};

}  // namespace kolvaprof
