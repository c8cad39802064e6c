#include "capture/object_numbers.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "core/logging_agent.h"

namespace kolvaprof {
namespace {

// Held only while an object without a tag gets one; one lock for every
// engine, since they number objects alike.
boost::mutex numberingLock;

}  // namespace

int64_t objectNumber(jvmtiEnv* env, CLoggingAgent& core, jobject object, int64_t wanted) {
  if (object == nullptr) return 0;
  jlong tag = 0;
  if (env->GetTag(object, &tag) != JVMTI_ERROR_NONE) return 0;
  if (tag != 0) return tag;
  boost::lock_guard<boost::mutex> guard(numberingLock);
  // Another thread may have numbered it while this one waited.
  if (env->GetTag(object, &tag) != JVMTI_ERROR_NONE) return 0;
  if (tag != 0) return tag;
  tag = wanted != 0 ? wanted : core.allocateObjectTag();
  return env->SetTag(object, tag) == JVMTI_ERROR_NONE ? tag : 0;
}

}  // namespace kolvaprof
