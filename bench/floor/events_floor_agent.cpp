// The events floor: an agent that asks for everything the real agent asks for
// and does nothing with the events. The VM still runs every thread in the
// interpreter and calls out for every method entry and exit, so this is the
// least any agent built on these events can cost.
#include "floor_common.h"

namespace {

void JNICALL onVmInit(jvmtiEnv*, JNIEnv*, jthread) {}
void JNICALL onVmDeath(jvmtiEnv*, JNIEnv*) {}
void JNICALL onThreadStart(jvmtiEnv*, JNIEnv*, jthread) {}
void JNICALL onThreadEnd(jvmtiEnv*, JNIEnv*, jthread) {}
void JNICALL onClassPrepare(jvmtiEnv*, JNIEnv*, jthread, jclass) {}
void JNICALL onException(jvmtiEnv*, JNIEnv*, jthread, jmethodID, jlocation, jobject, jmethodID,
                         jlocation) {}
void JNICALL onMethodEntry(jvmtiEnv*, JNIEnv*, jthread, jmethodID) {}
void JNICALL onMethodExit(jvmtiEnv*, JNIEnv*, jthread, jmethodID, jboolean, jvalue) {}

}  // namespace

JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char*, void*) {
  jvmtiEventCallbacks callbacks{};
  callbacks.VMInit = &onVmInit;
  callbacks.VMDeath = &onVmDeath;
  callbacks.MethodEntry = &onMethodEntry;
  callbacks.MethodExit = &onMethodExit;
  callbacks.Exception = &onException;
  callbacks.ThreadStart = &onThreadStart;
  callbacks.ThreadEnd = &onThreadEnd;
  callbacks.ClassPrepare = &onClassPrepare;
  floor_agent::setUp(vm, callbacks);
  return JNI_OK;
}
