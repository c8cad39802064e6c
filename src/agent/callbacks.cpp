// The event callbacks. Each one lets the event through only while the
// VM is live, counts itself in so that teardown can wait for it, and hands the
// event to the agent; no exception may leave a callback into the VM.
#include "agent/callbacks.h"

#include "agent/attach.h"
#include "agent/forward_to_agent.h"
#include "agent/jvmti_logging_agent.h"
#include "bytecode/bytecode_engine.h"
#include "capture/callback_gate.h"
#include "capture/vm_phase.h"
#include "events/events_engine.h"

namespace kolvaprof {
namespace {

// The method events' callbacks, which only the events engine asks for.
template <typename Work>
void forwardToEvents(Work work) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) {
    if (EventsEngine* events = agent.eventsEngine()) work(*events);
  });
}

void JNICALL vmInitCallback(jvmtiEnv* env, JNIEnv* jni, jthread thread) {
  setVmPhase(VmPhase::Live);
  // The VM announces the thread that runs main only after that thread has
  // already entered Java code, too late to name its log; VMInit arrives on
  // that very thread, so its name is taken here.
  forwardToAgent([&](CJVMTILoggingAgent& agent) {
    agent.onThreadStart(env, jni, thread);
    agent.startCapture(jni);
  });
}

void JNICALL vmDeathCallback(jvmtiEnv*, JNIEnv*) {
  try {
    endRunAtVmDeath();
  } catch (...) {
  }
}

void JNICALL threadStartCallback(jvmtiEnv* env, JNIEnv* jni, jthread thread) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onThreadStart(env, jni, thread); });
}

void JNICALL threadEndCallback(jvmtiEnv*, JNIEnv* jni, jthread) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onThreadEnd(jni); });
}

void JNICALL virtualThreadStartCallback(jvmtiEnv* env, JNIEnv*, jthread thread) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onVirtualThreadStart(env, thread); });
}

void JNICALL virtualThreadEndCallback(jvmtiEnv* env, JNIEnv*, jthread) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onVirtualThreadEnd(env); });
}

void JNICALL classPrepareCallback(jvmtiEnv* env, JNIEnv*, jthread, jclass klass) {
  forwardToEvents([&](EventsEngine& events) { events.registerClass(env, klass); });
}

void JNICALL exceptionCallback(jvmtiEnv* env, JNIEnv* jni, jthread, jmethodID, jlocation,
                               jobject exception, jmethodID, jlocation) {
  forwardToEvents([&](EventsEngine& events) { events.onException(env, jni, exception); });
}

void JNICALL methodEntryCallback(jvmtiEnv* env, JNIEnv* jni, jthread, jmethodID method) {
  forwardToEvents([&](EventsEngine& events) { events.onMethodEntry(env, jni, method); });
}

void JNICALL methodExitCallback(jvmtiEnv* env, JNIEnv* jni, jthread, jmethodID method,
                                jboolean wasPoppedByException, jvalue) {
  forwardToEvents([&](EventsEngine& events) {
    events.onMethodExit(env, jni, method, wasPoppedByException != JNI_FALSE);
  });
}

void JNICALL classFileLoadHookCallback(jvmtiEnv*, JNIEnv* jni, jclass beingRedefined,
                                       jobject loader, const char* name, jobject, jint length,
                                       const unsigned char* data, jint* newLength,
                                       unsigned char** newData) {
  // While the program starts no teardown can run, and the engine only notes
  // the class: the gate, which opens at VMInit, is not needed yet.
  if (currentVmPhase() == VmPhase::NotStarted) {
    try {
      CJVMTILoggingAgent* agent = getAgent(nullptr);
      BytecodeEngine* engine = agent != nullptr ? agent->bytecodeEngine() : nullptr;
      if (engine != nullptr) {
        engine->onClassFileLoad(jni, beingRedefined, loader, name, length, data, newLength,
                                newData);
      }
    } catch (...) {
    }
    return;
  }
  forwardToAgent([&](CJVMTILoggingAgent& agent) {
    if (BytecodeEngine* engine = agent.bytecodeEngine()) {
      engine->onClassFileLoad(jni, beingRedefined, loader, name, length, data, newLength, newData);
    }
  });
}

}  // namespace

jvmtiEventCallbacks makeEventCallbacks() {
  jvmtiEventCallbacks callbacks{};
  callbacks.VMInit = &vmInitCallback;
  callbacks.VMDeath = &vmDeathCallback;
  callbacks.MethodEntry = &methodEntryCallback;
  callbacks.MethodExit = &methodExitCallback;
  callbacks.Exception = &exceptionCallback;
  callbacks.ThreadStart = &threadStartCallback;
  callbacks.ThreadEnd = &threadEndCallback;
  callbacks.ClassPrepare = &classPrepareCallback;
  callbacks.ClassFileLoadHook = &classFileLoadHookCallback;
  return callbacks;
}

EventCallbacksWithVirtualThreads makeEventCallbacksWithVirtualThreads() {
  EventCallbacksWithVirtualThreads callbacks{};
  callbacks.base = makeEventCallbacks();
  callbacks.VirtualThreadStart = &virtualThreadStartCallback;
  callbacks.VirtualThreadEnd = &virtualThreadEndCallback;
  return callbacks;
}

}  // namespace kolvaprof
