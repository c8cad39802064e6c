// The event callbacks. Each one lets the event through only while the
// VM is live, counts itself in so that teardown can wait for it, and hands the
// event to the agent; no exception may leave a callback into the VM.
#include "agent/callbacks.h"

#include "agent/hook_natives.h"
#include "agent/forward_to_agent.h"
#include "agent/jvmti_logging_agent.h"
#include "agent/vm_phase.h"
#include "bytecode/bytecode_engine.h"
#include "output/thread_registry.h"

namespace kolvaprof {
namespace {

void JNICALL vmInitCallback(jvmtiEnv* env, JNIEnv* jni, jthread thread) {
  setVmPhase(VmPhase::Live);
  // The VM announces the thread that runs main only after that thread has
  // already entered Java code, too late to name its log; VMInit arrives on
  // that very thread, so its name is taken here.
  forwardToAgent([&](CJVMTILoggingAgent& agent) {
    agent.onThreadStart(env, jni, thread);
    if (BytecodeEngine* engine = agent.bytecodeEngine()) engine->onVmInit(jni, hookNatives());
  });
}

void JNICALL vmDeathCallback(jvmtiEnv*, JNIEnv*) {
  setVmPhase(VmPhase::Dead);
  closeCallbackGateAndWait();
  try {
    delete getAgent(nullptr);
  } catch (...) {
  }
}

void JNICALL threadStartCallback(jvmtiEnv* env, JNIEnv* jni, jthread thread) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onThreadStart(env, jni, thread); });
}

void JNICALL threadEndCallback(jvmtiEnv*, JNIEnv* jni, jthread) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) {
    if (BytecodeEngine* engine = agent.bytecodeEngine()) engine->onThreadEnd(jni);
    ThreadRegistry::instance().onThreadEnd(jni);
  });
}

void JNICALL virtualThreadStartCallback(jvmtiEnv* env, JNIEnv*, jthread thread) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onVirtualThreadStart(env, thread); });
}

void JNICALL virtualThreadEndCallback(jvmtiEnv* env, JNIEnv*, jthread) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onVirtualThreadEnd(env); });
}

void JNICALL classPrepareCallback(jvmtiEnv* env, JNIEnv*, jthread, jclass klass) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.registerClass(env, klass); });
}

void JNICALL exceptionCallback(jvmtiEnv* env, JNIEnv* jni, jthread, jmethodID, jlocation,
                               jobject exception, jmethodID, jlocation) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onException(env, jni, exception); });
}

void JNICALL methodEntryCallback(jvmtiEnv* env, JNIEnv* jni, jthread, jmethodID method) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) { agent.onMethodEntry(env, jni, method); });
}

void JNICALL methodExitCallback(jvmtiEnv* env, JNIEnv* jni, jthread, jmethodID method,
                                jboolean wasPoppedByException, jvalue) {
  forwardToAgent([&](CJVMTILoggingAgent& agent) {
    agent.onMethodExit(env, jni, method, wasPoppedByException != JNI_FALSE);
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
      engine->onClassFileLoad(jni, beingRedefined, loader, name, length, data, newLength,
                              newData);
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
