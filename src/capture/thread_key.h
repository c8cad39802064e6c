#pragma once

#include <jvmti.h>

#include <atomic>
#include <cstddef>

#include "output/thread_key.h"

namespace kolvaprof {

namespace detail {
// Virtual threads holding an identity now; read inline on every hook.
extern std::atomic<std::size_t> liveIdentities;
ThreadKey storedThreadKey(jvmtiEnv* env, JNIEnv* jni);
}  // namespace detail

// Which thread of the traced program an event or hook belongs to. A platform
// thread is its JNIEnv; a virtual thread is the identity that
// VirtualThreadStart left in its JVMTI thread-local storage, since it runs on
// (and its events arrive with the JNIEnv of) whichever carrier mounts it.
// Every capture engine asks here, so that all of them key a thread alike.
// While no virtual thread has an identity (always, on VMs without them), the
// JNIEnv is the whole answer and no thread-local storage is read.
inline ThreadKey currentThreadKey(jvmtiEnv* env, JNIEnv* jni) {
  if (detail::liveIdentities.load(std::memory_order_acquire) == 0) return jni;
  return detail::storedThreadKey(env, jni);
}

// For the virtual thread running now, at its start: gives it an identity of
// its own and returns it; null when the VM keeps none for it.
ThreadKey identifyVirtualThread(jvmtiEnv* env);
// At its end: the identity it was given (null for none), and then its
// release, once nothing is filed under it any more, since a thread started
// later may be given the same address.
ThreadKey virtualThreadIdentity(jvmtiEnv* env);
void releaseVirtualThreadIdentity(jvmtiEnv* env, ThreadKey identity);
// The JVMTI environment that held the identities is gone (the agent was
// detached): no thread's storage holds one any more. Those of virtual
// threads still alive stay allocated, a few bytes each.
void forgetVirtualThreadIdentities();

}  // namespace kolvaprof
