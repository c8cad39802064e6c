// The caller questions of the core, answered from the current thread's stack:
// depth 0 is the method of the event, depth 1 the method that called it.
#include <string>

#include "agent/jvmti_buffer.h"
#include "agent/jvmti_logging_agent.h"
#include "registry/method_registry.h"

namespace kolvaprof {

const MethodInfo* CJVMTILoggingAgent::getCallerMethod(ThreadContext*, int32_t) {
  jvmtiFrameInfo frame{};
  jint count = 0;
  if (jvmti->GetStackTrace(nullptr, 1, 1, &frame, &count) != JVMTI_ERROR_NONE || count != 1) {
    return nullptr;
  }
  return findMethodInfo(frame.method);
}

std::string CJVMTILoggingAgent::getCallerBytecodeIndex(ThreadContext*, int32_t) {
  if (!locationIsBytecodeIndex) return "-1";
  jint frames = 0;
  jvmti->GetFrameCount(nullptr, &frames);
  if (frames <= 0) return "-1";
  jmethodID method = nullptr;
  jlocation location = 0;
  if (jvmti->GetFrameLocation(nullptr, 1, &method, &location) != JVMTI_ERROR_NONE) return "-1";
  return std::to_string(location);
}

std::string CJVMTILoggingAgent::getCallerSourceLine(ThreadContext*, int32_t) {
  if (!locationIsBytecodeIndex || !lineNumbersAvailable) return "-1";
  jint frames = 0;
  jvmti->GetFrameCount(nullptr, &frames);
  if (frames <= 0) return "-1";
  jmethodID method = nullptr;
  jlocation location = 0;
  jvmti->GetFrameLocation(nullptr, 1, &method, &location);
  if (method == nullptr || location <= 0) return "-1";

  jint entries = 0;
  JvmtiBuffer<jvmtiLineNumberEntry> table(jvmti);
  jvmti->GetLineNumberTable(method, &entries, table.out());
  jint line = 0;
  // Only entries that start strictly before the call count: a call that is
  // the first instruction of its line reports the line before it.
  for (jint i = 0; i < entries && table[i].start_location < location; ++i) {
    line = table[i].line_number;
  }
  return std::to_string(line);
}

}  // namespace kolvaprof
