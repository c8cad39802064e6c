// The events floor: an agent that asks for everything the real agent asks for
// and does nothing with the events. The VM still runs every thread in the
// interpreter and calls out for every method entry and exit, so this is the
// least any agent built on these events can cost.
#include "floor_common.h"

JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char*, void*) {
  floor_agent::setUp(vm, floor_agent::idleCallbacks());
  return JNI_OK;
}
