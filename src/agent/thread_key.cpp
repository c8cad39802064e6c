#include "agent/thread_key.h"

#include <atomic>

namespace kolvaprof {
namespace {

std::atomic<bool> virtualThreadsTraced{false};

// What a virtual thread's storage points at: only its address matters, as
// the key of the thread, unique while the thread lives.
struct VirtualThreadIdentity {
  char unused = 0;
};

}  // namespace

ThreadKey currentThreadKey(jvmtiEnv* env, JNIEnv* jni) {
  if (!virtualThreadsTraced.load(std::memory_order_relaxed)) return jni;
  // Answered in native code from the thread's own state, without entering
  // the VM: the state of the mounted virtual thread when there is one, so a
  // carrier running its own frames finds nothing here, like any platform
  // thread.
  void* stored = nullptr;
  if (env->GetThreadLocalStorage(nullptr, &stored) != JVMTI_ERROR_NONE || stored == nullptr) return jni;
  return stored;
}

void traceVirtualThreads() { virtualThreadsTraced.store(true, std::memory_order_relaxed); }

ThreadKey identifyVirtualThread(jvmtiEnv* env, jthread thread) {
  auto* identity = new VirtualThreadIdentity;
  if (env->SetThreadLocalStorage(thread, identity) != JVMTI_ERROR_NONE) {
    delete identity;
    return nullptr;
  }
  return identity;
}

ThreadKey virtualThreadIdentity(jvmtiEnv* env, jthread thread) {
  void* stored = nullptr;
  if (env->GetThreadLocalStorage(thread, &stored) != JVMTI_ERROR_NONE) return nullptr;
  return stored;
}

void releaseVirtualThreadIdentity(jvmtiEnv* env, jthread thread, ThreadKey identity) {
  if (identity == nullptr) return;
  env->SetThreadLocalStorage(thread, nullptr);
  delete static_cast<const VirtualThreadIdentity*>(identity);
}

}  // namespace kolvaprof
