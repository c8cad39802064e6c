#include "events/event_call_site.h"

#include <string>

#include "core/logging_agent.h"
#include "events/events_engine.h"
#include "capture/frame_location.h"
#include "capture/object_numbers.h"
#include "registry/method_registry.h"

namespace kolvaprof {

const MethodInfo* EventCallSite::callerMethod() {
  jvmtiFrameInfo frame{};
  jint count = 0;
  if (env->GetStackTrace(nullptr, 1, 1, &frame, &count) != JVMTI_ERROR_NONE || count != 1) {
    return nullptr;
  }
  return findMethodInfo(frame.method);
}

std::string EventCallSite::callerLocation(CallerLocation what) {
  // Depth 0 is the method of the event, 1 its caller.
  return frameLocation(env, 1, what, engine.locationSupport());
}

int64_t EventCallSite::receiverTag() {
  jobject receiver = nullptr;
  env->GetLocalObject(nullptr, 0, 0, &receiver);
  if (receiver == nullptr) return 0;  // no receiver given, e.g. a native frame
  return objectNumber(env, engine.loggingCore(), receiver);
}

}  // namespace kolvaprof
