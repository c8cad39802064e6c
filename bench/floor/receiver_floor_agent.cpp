// The receiver floor: the events floor plus the receiver work the real agent
// does on every instance-method entry (is the method static, fetch `this`
// from slot 0, read its tag, tag it on first sight). GetLocalObject is a VM
// operation (a safepoint on JDK 17) on every instance call, which is why this
// floor, not the events floor, is the yardstick for logging with receivers.
// Static-ness is cached per method in the project's lock-free table, as the
// real agent knows it from class registration.
#include <atomic>

#include "floor_common.h"
#include "registry/method_table.h"

namespace {

enum Kind : int { kUnknown = 0, kStatic = 1, kInstance = 2 };

kolvaprof::MethodTable<int>& kinds() {
  static kolvaprof::MethodTable<int> table;
  return table;
}

std::atomic<bool> live{false};
std::atomic<jlong> nextTag{1};

void JNICALL onVmInit(jvmtiEnv*, JNIEnv*, jthread) { live.store(true); }
void JNICALL onVmDeath(jvmtiEnv*, JNIEnv*) { live.store(false); }

void JNICALL onMethodEntry(jvmtiEnv* jvmti, JNIEnv*, jthread, jmethodID method) {
  if (!live.load(std::memory_order_relaxed)) return;
  int kind = kinds().find(method);
  if (kind == kUnknown) {
    jint modifiers = 0;
    if (jvmti->GetMethodModifiers(method, &modifiers) != JVMTI_ERROR_NONE) return;
    kind = (modifiers & 0x0008) != 0 ? kStatic : kInstance;  // ACC_STATIC
    kinds().insert(method, kind);
  }
  if (kind == kStatic) return;
  jobject receiver = nullptr;
  jvmti->GetLocalObject(nullptr, 0, 0, &receiver);
  if (receiver == nullptr) return;
  jlong tag = 0;
  jvmti->GetTag(receiver, &tag);
  if (tag == 0) jvmti->SetTag(receiver, nextTag.fetch_add(1, std::memory_order_relaxed));
}

}  // namespace

JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char*, void*) {
  jvmtiEventCallbacks callbacks = floor_agent::idleCallbacks();
  callbacks.VMInit = &onVmInit;
  callbacks.VMDeath = &onVmDeath;
  callbacks.MethodEntry = &onMethodEntry;
  floor_agent::setUp(vm, callbacks);
  return JNI_OK;
}
