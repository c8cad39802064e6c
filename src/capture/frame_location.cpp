#include "capture/frame_location.h"

#include "capture/jvmti_buffer.h"

namespace kolvaprof {
namespace {

std::string sourceLine(jvmtiEnv* env, jmethodID method, jlocation location) {
  jint entries = 0;
  JvmtiBuffer<jvmtiLineNumberEntry> table(env);
  env->GetLineNumberTable(method, &entries, table.out());
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

}  // namespace

LocationSupport locationSupport(jvmtiEnv* env) {
  LocationSupport support;
  jvmtiCapabilities potential{};
  if (env->GetPotentialCapabilities(&potential) == JVMTI_ERROR_NONE) {
    support.lineNumbers = potential.can_get_line_numbers != 0;
  }
  jvmtiJlocationFormat format = JVMTI_JLOCATION_OTHER;
  if (env->GetJLocationFormat(&format) == JVMTI_ERROR_NONE) {
    support.bytecodeIndex = format == JVMTI_JLOCATION_JVMBCI;
  }
  return support;
}

std::string frameLocation(jvmtiEnv* env, jint depth, CallerLocation what,
                          const LocationSupport& support) {
  if (!support.bytecodeIndex) return "-1";
  if (what == CallerLocation::SourceLine && !support.lineNumbers) return "-1";
  jint frames = 0;
  env->GetFrameCount(nullptr, &frames);
  if (frames <= depth) return "-1";
  jmethodID method = nullptr;
  jlocation location = 0;
  if (env->GetFrameLocation(nullptr, depth, &method, &location) != JVMTI_ERROR_NONE) return "-1";
  if (what == CallerLocation::BytecodeIndex) return std::to_string(location);
  if (method == nullptr || location < 0) return "-1";
  return sourceLine(env, method, location);
}

}  // namespace kolvaprof
