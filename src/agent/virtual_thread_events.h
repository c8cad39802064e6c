#pragma once

#include <jvmti.h>

namespace kolvaprof {

// The build's jvmti.h is that of a VM without virtual threads, and the one
// library runs on VMs with and without them; what JVMTI 21 added for them is
// spelled out here, as JVMTI lays it out.

// Event numbers.
inline constexpr jvmtiEvent kVirtualThreadStartEvent = static_cast<jvmtiEvent>(87);
inline constexpr jvmtiEvent kVirtualThreadEndEvent = static_cast<jvmtiEvent>(88);

using VirtualThreadEventCallback = void(JNICALL*)(jvmtiEnv*, JNIEnv*, jthread);

// The callback table of JVMTI 21: the older table (up to event 86) and the
// slots of events 87 and 88 right after it. Handed over with its own size
// only to a VM that offers virtual threads.
struct EventCallbacksWithVirtualThreads {
  jvmtiEventCallbacks base;
  VirtualThreadEventCallback VirtualThreadStart;
  VirtualThreadEventCallback VirtualThreadEnd;
};

// can_support_virtual_threads: the capability after
// can_generate_sampled_object_alloc_events, bit 44 of the bit fields, which
// this compiler packs from the low bit of each 32-bit word.
bool offersVirtualThreads(const jvmtiCapabilities& capabilities);
void setVirtualThreadsCapability(jvmtiCapabilities& capabilities);

// Asks for the capability where the VM offers it; true when it was granted.
bool addVirtualThreadsCapability(jvmtiEnv* env);

}  // namespace kolvaprof
