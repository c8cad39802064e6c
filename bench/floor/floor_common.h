// What both floor agents share: the JVMTI set-up of the real agent (the same
// six capabilities and the same eight events, in the same order), so that a
// floor pays exactly what the VM charges for delivering the events.
#pragma once

#include <jvmti.h>

#include <cstdio>
#include <cstdlib>

namespace floor_agent {

namespace idle {
inline void JNICALL vmInit(jvmtiEnv*, JNIEnv*, jthread) {}
inline void JNICALL vmDeath(jvmtiEnv*, JNIEnv*) {}
inline void JNICALL threadStart(jvmtiEnv*, JNIEnv*, jthread) {}
inline void JNICALL threadEnd(jvmtiEnv*, JNIEnv*, jthread) {}
inline void JNICALL classPrepare(jvmtiEnv*, JNIEnv*, jthread, jclass) {}
inline void JNICALL exception(jvmtiEnv*, JNIEnv*, jthread, jmethodID, jlocation, jobject,
                              jmethodID, jlocation) {}
inline void JNICALL methodEntry(jvmtiEnv*, JNIEnv*, jthread, jmethodID) {}
inline void JNICALL methodExit(jvmtiEnv*, JNIEnv*, jthread, jmethodID, jboolean, jvalue) {}
}  // namespace idle

// The real agent's eight callback entries, each doing nothing; a floor
// replaces the ones whose work it measures.
inline jvmtiEventCallbacks idleCallbacks() {
  jvmtiEventCallbacks callbacks{};
  callbacks.VMInit = &idle::vmInit;
  callbacks.VMDeath = &idle::vmDeath;
  callbacks.MethodEntry = &idle::methodEntry;
  callbacks.MethodExit = &idle::methodExit;
  callbacks.Exception = &idle::exception;
  callbacks.ThreadStart = &idle::threadStart;
  callbacks.ThreadEnd = &idle::threadEnd;
  callbacks.ClassPrepare = &idle::classPrepare;
  return callbacks;
}

inline jvmtiEnv* setUp(JavaVM* vm, const jvmtiEventCallbacks& callbacks) {
  void* env = nullptr;
  if (vm->GetEnv(&env, JVMTI_VERSION_1_0) != JNI_OK || env == nullptr) {
    std::fputs("floor agent: no JVMTI environment\n", stderr);
    std::exit(2);
  }
  jvmtiEnv* jvmti = static_cast<jvmtiEnv*>(env);
  jvmtiCapabilities capabilities{};
  capabilities.can_tag_objects = 1;
  capabilities.can_get_line_numbers = 1;
  capabilities.can_access_local_variables = 1;
  capabilities.can_generate_exception_events = 1;
  capabilities.can_generate_method_entry_events = 1;
  capabilities.can_generate_method_exit_events = 1;
  if (jvmti->AddCapabilities(&capabilities) != JVMTI_ERROR_NONE) {
    std::fputs("floor agent: capabilities refused\n", stderr);
    std::exit(2);
  }
  const jvmtiEvent events[] = {
      JVMTI_EVENT_VM_INIT,     JVMTI_EVENT_VM_DEATH,  JVMTI_EVENT_METHOD_ENTRY,
      JVMTI_EVENT_METHOD_EXIT, JVMTI_EVENT_EXCEPTION, JVMTI_EVENT_THREAD_START,
      JVMTI_EVENT_THREAD_END,  JVMTI_EVENT_CLASS_PREPARE,
  };
  for (const jvmtiEvent event : events) {
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, event, nullptr);
  }
  if (jvmti->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks)) !=
      JVMTI_ERROR_NONE) {
    std::fputs("floor agent: callbacks refused\n", stderr);
    std::exit(2);
  }
  return jvmti;
}

}  // namespace floor_agent
