#include "capture/thread_key.h"

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

// The events of a virtual thread's start and end run on the thread itself,
// so its storage is that of the current thread: asking by its jthread
// instead would hold up every other virtual thread's mounting meanwhile.
ThreadKey identifyVirtualThread(jvmtiEnv* env) {
  auto* identity = new VirtualThreadIdentity;
  if (env->SetThreadLocalStorage(nullptr, identity) != JVMTI_ERROR_NONE) {
    delete identity;
    return nullptr;
  }
  return identity;
}

ThreadKey virtualThreadIdentity(jvmtiEnv* env) {
  void* stored = nullptr;
  if (env->GetThreadLocalStorage(nullptr, &stored) != JVMTI_ERROR_NONE) return nullptr;
  return stored;
}

void releaseVirtualThreadIdentity(jvmtiEnv* env, ThreadKey identity) {
  if (identity == nullptr) return;
  env->SetThreadLocalStorage(nullptr, nullptr);
  delete static_cast<const VirtualThreadIdentity*>(identity);
}

}  // namespace kolvaprof
