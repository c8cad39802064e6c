#pragma once

#include <jvmti.h>

#include <string>

#include "output/thread_registry.h"

namespace kolvaprof {

class CLoggingAgent;

// A virtual thread that blocks on I/O, is interrupted, or is asked its state
// or its name first turns off its own suspension: from the call of
// java.lang.VirtualThread.notifyJvmtiDisableSuspend(true) until that of
// notifyJvmtiDisableSuspend(false) returns, the VM reports no method events
// for it (JDK 25), and none of its exits either. The frames that
// end meanwhile (disableSuspendAndPreempt, blockedOn, the callers that
// began blocking) end without an exit, and every later call of the thread
// would nest inside them.
//
// The VM reports the return of notifyJvmtiDisableSuspend where suspension
// comes back on (or where it goes off): there the thread's open logged calls
// are held against the VM's stack, those whose frames are gone already are
// closed, and at the thread's next event those whose frames ended before it.
// Two stack queries per window (three when the stack is deep), none on any
// other event.
class SuspendWindow {
 public:
  // Called for every method of every registered class; remembers
  // notifyJvmtiDisableSuspend.
  static void noteMethod(const std::string& dottedClass, jmethodID method, const char* name,
                         const char* descriptor);
  // After each exit has been logged: opens the window at the right method.
  static void noteExit(CLoggingAgent& core, jvmtiEnv* env, jmethodID method, ThreadKey thread) {
    if (method == windowMethod() && method != nullptr) open(core, env, thread);
  }
  // Before each event of the OS thread is logged: closes the calls left
  // behind in a window that has ended.
  static void closeLeftCalls(CLoggingAgent& core, jvmtiEnv* env, ThreadKey thread, bool atEntry) {
    if (pending()) close(core, env, thread, atEntry);
  }

 private:
  static jmethodID windowMethod();
  static bool pending();
  static void open(CLoggingAgent& core, jvmtiEnv* env, ThreadKey thread);
  static void close(CLoggingAgent& core, jvmtiEnv* env, ThreadKey thread, bool atEntry);
};

}  // namespace kolvaprof
