#pragma once

#include <jvmti.h>

#include "capture/thread_key.h"
#include "core/call_site.h"

namespace kolvaprof {

class EventsEngine;

// A MethodEntry or MethodExit event as the core sees it, answered from the
// current thread's stack: depth 0 is the method of the event, depth 1 the
// method that called it.
class EventCallSite final : public CallSite {
 public:
  EventCallSite(EventsEngine& engine, jvmtiEnv* env, JNIEnv* jni)
      : CallSite(currentThreadKey(env, jni)), engine(engine), env(env) {}

  const MethodInfo* callerMethod() override;
  std::string callerLocation(CallerLocation what) override;
  int64_t receiverTag() override;

 private:

  EventsEngine& engine;
  jvmtiEnv* env;
};

}  // namespace kolvaprof
