#include "agent/event_call_site.h"

#include <string>

#include "agent/jvmti_buffer.h"
#include "agent/jvmti_logging_agent.h"
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
  return what == CallerLocation::BytecodeIndex ? callerBytecodeIndex() : callerSourceLine();
}

std::string EventCallSite::callerBytecodeIndex() {
  if (!agent.bytecodeLocations()) return "-1";
  jint frames = 0;
  env->GetFrameCount(nullptr, &frames);
  if (frames <= 0) return "-1";
  jmethodID caller = nullptr;
  jlocation location = 0;
  if (env->GetFrameLocation(nullptr, 1, &caller, &location) != JVMTI_ERROR_NONE) return "-1";
  return std::to_string(location);
}

std::string EventCallSite::callerSourceLine() {
  if (!agent.bytecodeLocations() || !agent.lineNumbers()) return "-1";
  jint frames = 0;
  env->GetFrameCount(nullptr, &frames);
  if (frames <= 0) return "-1";
  jmethodID caller = nullptr;
  jlocation location = 0;
  env->GetFrameLocation(nullptr, 1, &caller, &location);
  if (caller == nullptr || location < 0) return "-1";

  jint entries = 0;
  JvmtiBuffer<jvmtiLineNumberEntry> table(env);
  env->GetLineNumberTable(caller, &entries, table.out());
  // The line whose code starts last at or before the call (the later entry
  // on a tie); the table need not be in the order of the code.
  jint line = 0;
  jlocation lineStart = -1;
  for (jint i = 0; i < entries; ++i) {
    if (table[i].start_location <= location && table[i].start_location >= lineStart) {
      lineStart = table[i].start_location;
      line = table[i].line_number;
    }
  }
  return std::to_string(line);
}

int64_t EventCallSite::receiverTag() {
  jobject receiver = nullptr;
  env->GetLocalObject(nullptr, 0, 0, &receiver);
  if (receiver == nullptr) return 0;  // no receiver given, e.g. a native frame
  jlong tag = 0;
  env->GetTag(receiver, &tag);
  if (tag == 0) {
    tag = agent.allocateObjectTag();
    env->SetTag(receiver, tag);
  }
  return tag;
}

}  // namespace kolvaprof
