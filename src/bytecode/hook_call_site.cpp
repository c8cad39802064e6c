#include "bytecode/hook_call_site.h"

#include "bytecode/bytecode_engine.h"

namespace kolvaprof {

const MethodInfo* HookCallSite::callerMethod() {
  return index > 0 ? frames[index - 1].info : nullptr;
}

std::string HookCallSite::callerLocation(CallerLocation what) {
  return engine.callerLocation(frames, index, what);
}

int64_t HookCallSite::receiverTag() {
  if (receiverNumber != 0) return receiverNumber;
  return engine.receiverTag(jni, frames, index, receiver);
}

}  // namespace kolvaprof
