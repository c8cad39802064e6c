#pragma once

#include <jni.h>

#include "output/thread_key.h"

namespace kolvaprof {

// A way of catching calls and handing each to the logging core, which it
// holds by reference. The agent chooses one by the settings and drives it:
// prepare while the agent loads, start once the VM runs Java code, stop
// before the core is torn down. Between start and stop the engine's calls
// reach the core; after stop none does.
class CaptureEngine {
 public:
  virtual ~CaptureEngine() = default;

  // Asks the VM for what the engine needs (capabilities, events); false when
  // the VM refuses, which leaves the VM as it was.
  virtual bool prepare() = 0;
  // The VM has started (VMInit, on the thread that runs main).
  virtual void start(JNIEnv* jni) = 0;
  // No call is caught after this returns.
  virtual void stop() = 0;
  // The thread's state in the engine goes; its records are the core's.
  virtual void onThreadEnd(ThreadKey thread) = 0;
};

}  // namespace kolvaprof
