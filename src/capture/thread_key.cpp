#include "capture/thread_key.h"

#include <atomic>
#include <cstddef>

namespace kolvaprof {

// While no virtual thread holds an identity, no thread's storage can hold
// one, so hooks and events skip asking the VM for it: a call into the VM on
// every hook, and most programs never start a virtual thread. A virtual
// thread sees its own count raised at its start, on whichever carrier it
// later runs, since its moves between carriers are themselves ordered.
std::atomic<std::size_t> detail::liveIdentities{0};

namespace {

// What a virtual thread's storage points at: only its address matters, as
// the key of the thread, unique while the thread lives.
struct VirtualThreadIdentity {
  char unused = 0;
};

}  // namespace

ThreadKey detail::storedThreadKey(jvmtiEnv* env, JNIEnv* jni) {
  // Answered in native code from the thread's own state, without entering
  // the VM: the state of the mounted virtual thread when there is one, so a
  // carrier running its own frames finds nothing here, like any platform
  // thread.
  void* stored = nullptr;
  if (env->GetThreadLocalStorage(nullptr, &stored) != JVMTI_ERROR_NONE || stored == nullptr) return jni;
  return stored;
}

// The events of a virtual thread's start and end run on the thread itself,
// so its storage is that of the current thread: asking by its jthread
// instead would hold up every other virtual thread's mounting meanwhile.
ThreadKey identifyVirtualThread(jvmtiEnv* env) {
  auto* identity = new VirtualThreadIdentity;
  if (env->SetThreadLocalStorage(nullptr, identity) != JVMTI_ERROR_NONE) {
    delete identity;
    return nullptr;
  }
  detail::liveIdentities.fetch_add(1, std::memory_order_release);
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
  detail::liveIdentities.fetch_sub(1, std::memory_order_release);
  delete static_cast<const VirtualThreadIdentity*>(identity);
}

void forgetVirtualThreadIdentities() { detail::liveIdentities.store(0, std::memory_order_release); }

}  // namespace kolvaprof
