#include "events/events_engine.h"

#include "capture/class_names.h"
#include "capture/thread_key.h"
#include "core/logging_agent.h"
#include "events/event_call_site.h"
#include "events/mount_frame.h"
#include "events/suspend_window.h"
#include "registry/method_registry.h"

namespace kolvaprof {
namespace {

constexpr jvmtiEvent kMethodEvents[] = {
    JVMTI_EVENT_METHOD_ENTRY,
    JVMTI_EVENT_METHOD_EXIT,
    JVMTI_EVENT_EXCEPTION,
    JVMTI_EVENT_CLASS_PREPARE,
};

// Method events keep every thread that has them in the interpreter; these
// are asked for only when the settings choose this engine.
jvmtiCapabilities methodEventCapabilities() {
  jvmtiCapabilities capabilities{};
  capabilities.can_access_local_variables = 1;
  capabilities.can_generate_exception_events = 1;
  capabilities.can_generate_method_entry_events = 1;
  capabilities.can_generate_method_exit_events = 1;
  return capabilities;
}

}  // namespace

EventsEngine::EventsEngine(CLoggingAgent& core, jvmtiEnv* env, const LocationSupport& locations)
    : core(core), jvmti(env), locations(locations) {}

bool EventsEngine::prepare() {
  const jvmtiCapabilities capabilities = methodEventCapabilities();
  if (jvmti->AddCapabilities(&capabilities) != JVMTI_ERROR_NONE) return false;
  for (const jvmtiEvent event : kMethodEvents) {
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, event, nullptr);
  }
  return true;
}

void EventsEngine::stop() {
  // The agent clears the callbacks and switches every event off right after,
  // in its own order; an event already under way is waited for by the gate.
}

void EventsEngine::onException(jvmtiEnv* env, JNIEnv* jni, jobject exception) {
  if (exception == nullptr) return;
  core.setLastExceptionClass(currentThreadKey(env, jni), objectClassName(env, jni, exception));
}

void EventsEngine::onMethodEntry(jvmtiEnv* env, JNIEnv* jni, jmethodID method) {
  const MethodInfo* info = findMethodInfo(method);
  if (info == nullptr && !core.ignoreBuiltInClass()) {
    jclass klass = nullptr;
    if (env->GetMethodDeclaringClass(method, &klass) != JVMTI_ERROR_NONE || klass == nullptr) {
      return;
    }
    registerClass(env, klass);
    jni->DeleteLocalRef(klass);
    info = findMethodInfo(method);
  }
  if (info == nullptr) return;
  EventCallSite site(*this, env, jni);
  MountFrame::closePending(core, jni);
  SuspendWindow::closeLeftCalls(core, env, site.threadKey(), true);
  core.logMethodEntry(site, *info);
  MountFrame::noteEntry(method, jni, site.threadKey());
}

void EventsEngine::onMethodExit(jvmtiEnv* env, JNIEnv* jni, jmethodID method,
                                bool poppedByException) {
  const MethodInfo* info = findMethodInfo(method);
  if (info == nullptr) return;
  EventCallSite site(*this, env, jni);
  MountFrame::closePending(core, jni);
  SuspendWindow::closeLeftCalls(core, env, site.threadKey(), false);
  core.logMethodExit(site, *info, poppedByException);
  SuspendWindow::noteExit(core, env, method, site.threadKey());
}

}  // namespace kolvaprof
